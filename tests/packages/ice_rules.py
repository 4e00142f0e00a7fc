#!/usr/bin/env python3
"""Windows Installer's validation rules (the ICEs that Orca and packaging pipelines run) that apply to Pathlift's
packages, checked from their tables without Windows:

    ice_rules.py PACKAGE.msi...

Each rule is written from its documented definition and reports what it finds per package. A finding listed in
DELIBERATE, by rule and component or custom action, is a rule broken on purpose (docs/PACKAGING.md says why):
it is printed and does not fail; an entry that no package needs any more fails, so the list stays true. Prints one
line per rule and package; exits 1 on a failure.
"""

import os
import subprocess
import sys

# (rule, component or custom action): why the package breaks the rule there.
DELIBERATE = {
    ("ICE105", "Approval64"): "the approval value exists only in HKLM, where Explorer reads it under "
                              "EnforceShellExtensionSecurity; the component's condition ALLUSERS leaves it out per user",
    ("ICE105", "Approval32"): "the same value in the 32-bit view, for 32-bit programs' file dialogs",
    ("ICE33", "Server64"): "the Class table would advertise the server (a Windows Installer descriptor beside the path, "
                           "a repair on first use); these rows are what the DLL's own DllRegisterServer writes",
    ("ICE33", "Server32"): "the same rows in the 32-bit view",
    ("ICE105", "ProvisionSparsePackage"): "provisioning Windows 11's packaged entry for every user needs the "
                                          "machine's rights; the action's condition ALLUSERS leaves it out per user",
    ("ICE105", "DeprovisionSparsePackage"): "the same for taking the provisioning back on removal",
}

IN_SCRIPT, NO_IMPERSONATE, TS_AWARE = 0x400, 0x800, 0x4000
BASE_TYPES = {1, 2, 5, 6, 7, 17, 18, 19, 21, 22, 23, 34, 35, 37, 38, 39, 50, 51, 53, 54}
# Folders that Windows Installer 5 redirects for a per-user install of a dual-purpose package, and those that are
# in the user's profile whatever the install's context.
PER_USER_MAPPED = {"ProgramFilesFolder", "ProgramFiles64Folder", "CommonFilesFolder", "CommonFiles64Folder",
                   "ProgramMenuFolder", "StartMenuFolder", "StartupFolder", "DesktopFolder"}
PROFILE = {"AppDataFolder", "LocalAppDataFolder", "PersonalFolder", "FavoritesFolder", "MyPicturesFolder",
           "NetHoodFolder", "PrintHoodFolder", "RecentFolder", "SendToFolder", "TemplateFolder"}
FOLDERS_64 = {"ProgramFiles64Folder", "CommonFiles64Folder", "System64Folder"}


def table(msi, name):
    """A table's rows as dictionaries by column name; a table the package does not have is empty."""
    result = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    if result.returncode != 0:
        return []
    lines = result.stdout.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def version(text):
    return tuple(int(part) for part in text.split("."))


def check(msi):
    """Yields (rule, subject, finding) for every rule broken in one package, and (rule, None, None) for each rule
    that was checked, so that a clean rule is reported too."""
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    actions = table(msi, "CustomAction")
    sequence = {row["Action"]: int(row["Sequence"]) for row in table(msi, "InstallExecuteSequence")}
    components = {row["Component"]: row for row in table(msi, "Component")}
    registry = table(msi, "Registry")
    directories = {row["Directory"]: row["Directory_Parent"] for row in table(msi, "Directory")}
    files = {row["File"]: row for row in table(msi, "File")}

    def root_folder(directory):
        while directories.get(directory) not in (None, "", "TARGETDIR"):
            directory = directories[directory]
        return directory

    # ICE68: a custom action's type is one that exists, and the bits that only mean something for an action in the
    # installation script (not impersonated, terminal-server aware) are set only on such actions.
    yield "ICE68", None, None
    for action in actions:
        kind = int(action["Type"])
        if kind & 0x3F not in BASE_TYPES:
            yield "ICE68", action["Action"], f"type {kind} has no valid base type"
        if kind & (NO_IMPERSONATE | TS_AWARE) and not kind & IN_SCRIPT:
            yield "ICE68", action["Action"], f"type {kind}: no-impersonate or TS-aware bit on an immediate action"

    # ICE77: an action of the installation script runs between InstallInitialize and InstallFinalize.
    yield "ICE77", None, None
    for action in actions:
        name = action["Action"]
        if int(action["Type"]) & IN_SCRIPT and name in sequence and not (
                sequence["InstallInitialize"] < sequence[name] < sequence["InstallFinalize"]):
            yield "ICE77", name, f"in-script action at {sequence[name]}, outside InstallInitialize..InstallFinalize"

    # ICE63: RemoveExistingProducts between InstallValidate and InstallInitialize, or after InstallFinalize.
    yield "ICE63", None, None
    if "RemoveExistingProducts" in sequence:
        at = sequence["RemoveExistingProducts"]
        if not (sequence["InstallValidate"] < at < sequence["InstallInitialize"] or at > sequence["InstallFinalize"]):
            yield "ICE63", "RemoveExistingProducts", f"sequenced at {at}"

    # ICE61: the package removes only older versions of itself.
    yield "ICE61", None, None
    for row in table(msi, "Upgrade"):
        attributes = int(row["Attributes"] or 0)
        if row["UpgradeCode"] != properties.get("UpgradeCode") or attributes & 2 or not row["VersionMax"]:
            continue  # another product, a detection only, or no upper bound (caught below)
        maximum, current = version(row["VersionMax"]), version(properties["ProductVersion"])
        if maximum > current or (maximum == current and attributes & 0x200):
            yield "ICE61", row["ActionProperty"], f"removes versions up to {row['VersionMax']}"
    for row in table(msi, "Upgrade"):
        if row["UpgradeCode"] == properties.get("UpgradeCode") and not int(row["Attributes"] or 0) & 2 \
                and not row["VersionMax"]:
            yield "ICE61", row["ActionProperty"], "removes every version, this one and newer ones too"

    # ICE80: 64-bit components in the 64-bit folders and a 64-bit package (Template x64, Arm64 or Intel64), 32-bit
    # ones outside them.
    yield "ICE80", None, None
    template = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout
    for name, component in components.items():
        is64 = bool(int(component["Attributes"]) & 0x100)
        in64 = root_folder(component["Directory_"]) in FOLDERS_64
        if is64 != in64:
            yield "ICE80", name, f"{'64' if is64 else '32'}-bit component in {root_folder(component['Directory_'])}"
        if is64 and not any(platform in template for platform in ("x64", "Arm64", "Intel64")):
            yield "ICE80", name, "64-bit component in a package whose platform is not 64-bit"

    # ICE57: no component mixes per-user and per-machine data, judged with its key path. HKCR counts per machine
    # once ALLUSERS is set, as ICE57 reads it; HKMU (-1) can be either; program-files folders are per machine.
    yield "ICE57", None, None
    hkcr = "machine" if properties.get("ALLUSERS") else "user"
    scope_of_root = {"0": hkcr, "1": "user", "2": "machine", "3": "machine", "-1": "either"}
    registry_scope = {row["Registry"]: scope_of_root[row["Root"]] for row in registry}

    def folder_scope(directory):
        return "user" if root_folder(directory) in PROFILE else "machine"

    for name, component in components.items():
        scopes = {registry_scope[row["Registry"]] for row in registry if row["Component_"] == name}
        scopes |= {folder_scope(component["Directory_"]) for f in files.values() if f["Component_"] == name}
        if int(component["Attributes"]) & 4:
            key = registry_scope.get(component["KeyPath"], "machine")
        elif component["KeyPath"]:
            key = folder_scope(component["Directory_"])
        else:
            key = folder_scope(component["Directory_"])
            scopes.add(key)
        if "user" in scopes and "machine" in scopes:
            yield "ICE57", name, f"per-user and per-machine data, {key} key path"
        elif key == "machine" and "either" in scopes:
            yield "ICE57", name, "data that can be per-user or per-machine with a per-machine key path"
        elif key == "either" and "user" in scopes:
            yield "ICE57", name, "per-user data with a key path that can be per-user or per-machine"

    # ICE105: a dual-purpose package (ALLUSERS=2) installs per user as well: no elevated custom action (in the script
    # and not impersonated), no machine-wide folder, no service, no data source, no HKLM row.
    yield "ICE105", None, None
    if properties.get("ALLUSERS") == "2":
        for action in actions:
            kind = int(action["Type"])
            if kind & IN_SCRIPT and kind & NO_IMPERSONATE:
                yield "ICE105", action["Action"], f"type {kind}: elevated (deferred, not impersonated)"
        for directory, parent in directories.items():
            if parent == "TARGETDIR" and directory not in PER_USER_MAPPED | PROFILE:
                yield "ICE105", directory, "a folder Windows Installer does not map per user"
        for name in ("ServiceInstall", "ODBCDataSource"):
            for row in table(msi, name):
                yield "ICE105", row.get("Component_", name), f"a {name} row"
        for row in registry:
            if row["Root"] == "2":
                yield "ICE105", row["Component_"], f"HKLM\\{row['Key']} {row['Name']}"

    # ICE33: COM classes belong in the Class table, not the Registry table.
    yield "ICE33", None, None
    for row in registry:
        if row["Root"] in ("0", "-1") and row["Key"].upper().startswith("CLSID\\"):
            yield "ICE33", row["Component_"], f"HKCR\\{row['Key']} in the Registry table"


def main():
    failures = 0
    used = set()
    for msi in sys.argv[1:]:
        findings = {}
        for rule, subject, finding in check(msi):
            findings.setdefault(rule, [])
            if subject is not None:
                findings[rule].append((subject, finding))
        for rule, found in findings.items():
            broken = [(s, f) for s, f in found if (rule, s) not in DELIBERATE]
            deliberate = sorted({s for s, _ in found if (rule, s) in DELIBERATE})
            used |= {(rule, s) for s in deliberate}
            note = f" (deliberate: {', '.join(deliberate)})" if deliberate else ""
            if broken:
                failures += 1
                print(f"FAIL {rule} {os.path.basename(msi)}{note}")
                for subject, finding in broken:
                    print(f"     {subject}: {finding}")
            else:
                print(f"ok   {rule} {os.path.basename(msi)}{note}")
    for rule, subject in sorted(set(DELIBERATE) - used):
        failures += 1
        print(f"FAIL {rule} {subject}: listed as deliberate, but no package breaks the rule there")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
