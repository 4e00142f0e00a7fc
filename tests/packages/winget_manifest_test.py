#!/usr/bin/env python3
"""The winget manifest that scripts/package.sh writes, checked against winget's own schemas and the MSIs it names:

    winget_manifest_test.py MANIFEST_FOLDER PACKAGE_FOLDER [--schemas DIR] [--license FILE]

MANIFEST_FOLDER is <identifier>/<version> with the version, installer and default-locale files; PACKAGE_FOLDER holds
the MSIs, read with msiinfo. The release notes are the version's section of installer/release-notes.md, none for a
version without one. Prints one line per check, "ok" or "FAIL" with what differs below it; exits 1 on a
failure.
"""

import argparse
import hashlib
import json
import subprocess
import sys
from pathlib import Path
from urllib.parse import urlparse

import jsonschema
import yaml

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "scripts"))
from winget_manifest import release_notes  # noqa: E402  the version's section, as the writer reads it

SCHEMA_FILES = {"version": "manifest.version.1.10.0.json", "installer": "manifest.installer.1.10.0.json",
                "defaultLocale": "manifest.defaultLocale.1.10.0.json"}
ARCHITECTURES = ("x64", "arm64", "x86")
SCOPES = ("machine", "user")
# The processor in an MSI's summary Template, as Windows Installer names it.
TEMPLATE_PLATFORMS = {"Intel": "x86", "x64": "x64", "Arm64": "arm64"}
ELEVATION = {"machine": "elevationRequired", "user": "elevationProhibited"}
# The Windows a package's launch conditions refuse: VersionNT64 is set on every 64-bit Windows, x64 and ARM64
# alike; PATHLIFT_MACHINE is the processor the machine's environment names.
REFUSALS = {"NOT VersionNT64": {"x64", "arm64"}, 'NOT PATHLIFT_MACHINE~="ARM64"': {"arm64"}}
# What winget installs on each Windows, as its documentation describes the choice: an installer of the machine's
# own architecture or one the machine runs under emulation (x86 everywhere 64-bit, x64 on Windows 11 on ARM),
# unless the installer names that Windows among its UnsupportedOSArchitectures.
RUNS_ON = {"x64": {"x64", "x86"}, "arm64": {"arm64", "x64", "x86"}, "x86": {"x86"}}


def msi_table(msi, name):
    result = subprocess.run(["msiinfo", "export", str(msi), name], capture_output=True, text=True, check=True)
    lines = result.stdout.replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def msi_facts(msi):
    properties = {row["Property"]: row["Value"] for row in msi_table(msi, "Property")}
    summary = subprocess.run(["msiinfo", "suminfo", str(msi)], capture_output=True, text=True, check=True).stdout
    template = next(line.split(": ", 1)[1].strip() for line in summary.splitlines() if line.startswith("Template:"))
    refused = set()
    for row in msi_table(msi, "LaunchCondition"):
        refused |= REFUSALS.get(row["Condition"], set())
    return {
        "sha256": hashlib.sha256(msi.read_bytes()).hexdigest().upper(),
        "properties": properties,
        "architecture": TEMPLATE_PLATFORMS.get(template.split(";")[0], template),
        "refused": refused,
    }


class Report:
    def __init__(self):
        self.failures = 0

    def check(self, what, problems):
        problems = list(problems)
        if problems:
            self.failures += 1
            print(f"FAIL {what}")
            for problem in problems:
                print(f"     {problem}")
        else:
            print(f"ok   {what}")


def differs(field, manifest, package):
    return [] if manifest == package else [f"{field}: manifest {manifest}, package {package}"]


def should(field, actual, expected):
    return [] if actual == expected else [f"{field}: {actual}, should be {expected}"]


def installer_problems(entry, version, packages, folder):
    """What one installer entry says that its MSI does not."""
    name = Path(urlparse(entry["InstallerUrl"]).path).name
    msi = folder / name
    if not msi.is_file():
        return [f"InstallerUrl names {name}, which {folder} does not hold"]
    facts = packages.setdefault(name, msi_facts(msi))
    properties = facts["properties"]
    arp = (entry.get("AppsAndFeaturesEntries") or [{}])[0]
    arch, scope = entry["Architecture"], entry.get("Scope")
    problems = should("file", name, f"Pathlift-{version}-{arch}.msi")
    problems += differs("InstallerSha256", entry["InstallerSha256"].upper(), facts["sha256"])
    problems += differs("ProductCode", entry.get("ProductCode"), properties.get("ProductCode"))
    problems += differs("AppsAndFeaturesEntries ProductCode", arp.get("ProductCode"), properties.get("ProductCode"))
    problems += differs("AppsAndFeaturesEntries UpgradeCode", arp.get("UpgradeCode"), properties.get("UpgradeCode"))
    problems += differs("AppsAndFeaturesEntries DisplayName", arp.get("DisplayName"), properties.get("ProductName"))
    problems += differs("AppsAndFeaturesEntries Publisher", arp.get("Publisher"), properties.get("Manufacturer"))
    problems += differs("PackageVersion", version, properties.get("ProductVersion"))
    problems += differs("Architecture", arch, facts["architecture"])
    problems += differs("InstallerType", entry.get("InstallerType"), "wix")
    # Per user is ALLUSERS=2 with MSIINSTALLPERUSER=1 (Windows Installer 5); per machine the package's default.
    custom = (entry.get("InstallerSwitches") or {}).get("Custom", "")
    problems += should("the package's ALLUSERS", properties.get("ALLUSERS"), "2")
    problems += should(f"MSIINSTALLPERUSER=1 among the {scope} scope's switches",
                       "MSIINSTALLPERUSER=1" in custom.split(),
                       scope == "user")
    problems += should(f"{scope} ElevationRequirement", entry.get("ElevationRequirement"), ELEVATION.get(scope))
    problems += should("3010 among InstallerSuccessCodes", 3010 in (entry.get("InstallerSuccessCodes") or []), True)
    # winget must not offer a package on a Windows whose launch conditions it refuses, nor leave one out that runs.
    problems += differs("UnsupportedOSArchitectures", sorted(entry.get("UnsupportedOSArchitectures") or []),
                        sorted(facts["refused"]))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("manifests", type=Path)
    parser.add_argument("packages", type=Path)
    parser.add_argument("--schemas", type=Path, default=HERE / "winget-schema")
    parser.add_argument("--license", type=Path, default=HERE.parent.parent / "LICENSE")
    parser.add_argument("--release-notes", type=Path, default=HERE.parent.parent / "installer" / "release-notes.md")
    args = parser.parse_args()
    report = Report()

    documents = {}
    for path in sorted(args.manifests.glob("*.yaml")):
        document = yaml.safe_load(path.read_text(encoding="utf-8"))
        kind = document.get("ManifestType")
        schema = None
        if kind in SCHEMA_FILES:
            schema = json.loads((args.schemas / SCHEMA_FILES[kind]).read_text(encoding="utf-8"))
        problems = [f"ManifestType {kind}: not one of {', '.join(SCHEMA_FILES)}"] if schema is None else [
            f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
            for error in jsonschema.Draft7Validator(schema).iter_errors(document)]
        report.check(f"schema {kind} 1.10.0: {path.name}", problems)
        documents[kind] = (path, document)

    identifier, version = args.manifests.parent.name, args.manifests.name
    default_locale = documents.get("version", (None, {}))[1].get("DefaultLocale")
    expected_names = {"version": f"{identifier}.yaml", "installer": f"{identifier}.installer.yaml",
                      "defaultLocale": f"{identifier}.locale.{default_locale}.yaml"}
    problems = [f"no {kind} manifest" for kind in SCHEMA_FILES if kind not in documents]
    for kind, (path, document) in documents.items():
        problems += should(f"{kind} file name", path.name, expected_names[kind])
        problems += should(f"{kind} PackageIdentifier", document.get("PackageIdentifier"), identifier)
        problems += should(f"{kind} PackageVersion", document.get("PackageVersion"), version)
    report.check(f"one package in {identifier}/{version}: three files, one identifier and version", problems)
    if "installer" not in documents:
        return 1

    installers = documents["installer"][1].get("Installers", [])
    pairs = sorted((entry.get("Architecture"), entry.get("Scope")) for entry in installers)
    report.check("an installer for each architecture, per machine and per user",
                 should("installers", pairs, sorted((a, s) for a in ARCHITECTURES for s in SCOPES)))

    packages = {}
    for entry in installers:
        report.check(f"{entry.get('Architecture')} {entry.get('Scope')}: the manifest says what the package is",
                     installer_problems(entry, version, packages, args.packages))

    for windows in ARCHITECTURES:
        chosen = sorted({entry["Architecture"] for entry in installers
                         if entry["Architecture"] in RUNS_ON[windows]
                         and windows not in (entry.get("UnsupportedOSArchitectures") or [])})
        report.check(f"on {windows} Windows winget can choose only the {windows} package",
                     should("installers it can choose", chosen, [windows]))

    locale = documents.get("defaultLocale", (None, {}))[1]
    licence_lines = [line.strip() for line in args.license.read_text(encoding="utf-8").splitlines() if line.strip()]
    problems = should("License", f"{locale.get('License')} License", licence_lines[0])
    problems += should("Copyright", locale.get("Copyright"), licence_lines[1])
    notes = release_notes(args.release_notes, version)
    problems += should("ReleaseNotes", locale.get("ReleaseNotes"), notes)
    report.check("locale: the licence and the release notes", problems)
    return 1 if report.failures else 0


if __name__ == "__main__":
    sys.exit(main())
