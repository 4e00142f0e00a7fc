#!/usr/bin/env python3
"""The sparse packages and how the x64 and arm64 MSIs carry them, read from the built files without Windows:

    sparse_package_test.py --unsigned DIST --signed DIST --cert CERT.pem --publisher SUBJECT --version V [--signed-version V]

DIST folders are scripts/package.sh's output without and with a certificate (CERT.pem, whose subject Windows writes
as SUBJECT). Checks the zip as an MSIX reader needs it, every block hash of the block map against the files, the
content types, the manifest's parts that the published schema requires and those this package needs, the publisher
id against published pairs, the signature with osslsigncode (and that a changed byte breaks it), and the MSI tables
that register the package on Windows 11 and remove it again. Prints one line per check; exits 1 on a failure.
"""

import argparse
import base64
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import sparse_package  # noqa: E402

NS = {
    "f": "http://schemas.microsoft.com/appx/manifest/foundation/windows10",
    "uap": "http://schemas.microsoft.com/appx/manifest/uap/windows10",
    "uap10": "http://schemas.microsoft.com/appx/manifest/uap/windows10/10",
    "rescap": "http://schemas.microsoft.com/appx/manifest/foundation/windows10/restrictedcapabilities",
    "desktop4": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/4",
    "desktop5": "http://schemas.microsoft.com/appx/manifest/desktop/windows10/5",
    "com": "http://schemas.microsoft.com/appx/manifest/com/windows10",
    "b": "http://schemas.microsoft.com/appx/2010/blockmap",
    "ct": "http://schemas.openxmlformats.org/package/2006/content-types",
}
COMMAND_CLASS_ID = "1E7844E8-15A0-493B-B7B9-3D3B65E11E0E"
FOOTPRINT = ("AppxBlockMap.xml", "[Content_Types].xml", "AppxSignature.p7x")

failures = 0


def expect(what, expected, actual):
    global failures
    if expected == actual:
        print(f"ok   {what}")
    else:
        failures += 1
        print(f"FAIL {what}\n     expected: {expected!r}\n     actual:   {actual!r}")


def local_header_sizes(path):
    """Each entry's local file header size (30 bytes, the name, the extra field) as the bytes on disk give it."""
    sizes = {}
    with open(path, "rb") as f, zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            f.seek(info.header_offset)
            signature, *_, name_length, extra_length = struct.unpack("<IHHHHHIIIHH", f.read(30))
            sizes[info.filename] = 30 + name_length + extra_length if signature == 0x04034B50 else None
    return sizes


def check_package(kind, path, publisher, version, arch="x64"):
    archive = zipfile.ZipFile(path)
    names = [info.filename for info in archive.infolist()]
    payload = [name for name in names if name not in FOOTPRINT]
    signed = kind.startswith("signed")
    footprint = ["AppxBlockMap.xml", "[Content_Types].xml"] + (["AppxSignature.p7x"] if signed else [])
    expect(f"{kind}: the payload first, then the footprint files", payload + footprint, names)
    expect(f"{kind}: every entry reads back with its CRC-32", None, archive.testzip())
    expect(f"{kind}: every payload file is stored, so blocks need no compressed size", [],
           [i.filename for i in archive.infolist() if i.filename in payload and i.compress_type != zipfile.ZIP_STORED])

    # The block map: every payload file, its size, its local header's size, a SHA-256 hash per 64 KiB block.
    block_map = ET.fromstring(archive.read("AppxBlockMap.xml"))
    expect(f"{kind}: block map hash method", "http://www.w3.org/2001/04/xmlenc#sha256", block_map.get("HashMethod"))
    files = block_map.findall("b:File", NS)
    expect(f"{kind}: the block map lists exactly the payload", [n.replace("/", "\\") for n in payload],
           [f.get("Name") for f in files])
    headers = local_header_sizes(path)
    for entry in files:
        name = entry.get("Name").replace("\\", "/")
        data = archive.read(name) if name in names else b""
        blocks = [data[at:at + 65536] for at in range(0, len(data), 65536)]
        expect(f"{kind}: {name}: Size and LfhSize as in the zip", (str(len(data)), str(headers.get(name))),
               (entry.get("Size"), entry.get("LfhSize")))
        expect(f"{kind}: {name}: each block's SHA-256 as recomputed from the file",
               [(base64.b64encode(hashlib.sha256(b).digest()).decode(), None) for b in blocks],
               [(b.get("Hash"), b.get("Size")) for b in entry.findall("b:Block", NS)])

    # Every part has a content type: by extension or by its own override.
    types = ET.fromstring(archive.read("[Content_Types].xml"))
    defaults = {d.get("Extension").lower(): d.get("ContentType") for d in types.findall("ct:Default", NS)}
    overrides = {o.get("PartName"): o.get("ContentType") for o in types.findall("ct:Override", NS)}
    wanted = {"/AppxManifest.xml": "application/vnd.ms-appx.manifest+xml",
              "/AppxBlockMap.xml": "application/vnd.ms-appx.blockmap+xml"}
    if signed:
        wanted["/AppxSignature.p7x"] = "application/vnd.ms-appx.signature"
    expect(f"{kind}: content types of the footprint files", wanted, {k: overrides.get(k) for k in wanted})
    expect(f"{kind}: every part has a content type", [],
           [n for n in names if n != "[Content_Types].xml" and "/" + n not in overrides
            and n.rsplit(".", 1)[-1].lower() not in defaults])

    manifest = ET.fromstring(archive.read("AppxManifest.xml"))
    check_manifest(kind, manifest, names, publisher, version, arch)


def attributes(element, names):
    return {n: element.get(n) for n in names} if element is not None else None


def check_manifest(kind, manifest, names, publisher, version, arch):
    expect(f"{kind}: the root is the Windows 10 foundation schema's Package", f"{{{NS['f']}}}Package", manifest.tag)
    # The elements and attributes the published foundation and uap schemas require (minOccurs 1, use="required").
    required = [
        ("f:Identity", ["Name", "Publisher", "Version"]),
        ("f:Properties/f:DisplayName", []),
        ("f:Properties/f:PublisherDisplayName", []),
        ("f:Properties/f:Logo", []),
        ("f:Resources/f:Resource", ["Language"]),
        ("f:Dependencies/f:TargetDeviceFamily", ["Name", "MinVersion", "MaxVersionTested"]),
        ("f:Applications/f:Application", ["Id"]),
        ("f:Applications/f:Application/uap:VisualElements",
         ["DisplayName", "Description", "BackgroundColor", "Square150x150Logo", "Square44x44Logo"]),
    ]
    for path, attrs in required:
        element = manifest.find(path, NS)
        present = element is not None and (not attrs or all(element.get(a) for a in attrs))
        if element is not None and not attrs:
            present = bool((element.text or "").strip())
        expect(f"{kind}: required {path} {' '.join(attrs)}", True, present)

    identity = manifest.find("f:Identity", NS)
    expect(f"{kind}: identity", {"Name": "Pathlift", "Publisher": publisher, "Version": version,
                                 "ProcessorArchitecture": arch},
           attributes(identity, ["Name", "Publisher", "Version", "ProcessorArchitecture"]))
    expect(f"{kind}: the name is 3 to 50 letters, digits, dots and dashes", True,
           bool(re.fullmatch(r"[-.A-Za-z0-9]{3,50}", identity.get("Name"))))
    expect(f"{kind}: uap10:AllowExternalContent", "true",
           manifest.findtext("f:Properties/uap10:AllowExternalContent", namespaces=NS))
    family = manifest.find("f:Dependencies/f:TargetDeviceFamily", NS)
    expect(f"{kind}: Windows.Desktop from 10.0.19041.0 on", ("Windows.Desktop", True),
           (family.get("Name"), tuple(map(int, family.get("MinVersion").split("."))) >= (10, 0, 19041, 0)))
    expect(f"{kind}: restricted capabilities", ["runFullTrust", "unvirtualizedResources"],
           [c.get("Name") for c in manifest.findall("f:Capabilities/rescap:Capability", NS)])
    application = manifest.find("f:Applications/f:Application", NS)
    expect(f"{kind}: a full-trust Win32 application outside the Start menu",
           ("mediumIL", "win32App", "none", True),
           (application.get(f"{{{NS['uap10']}}}TrustLevel"), application.get(f"{{{NS['uap10']}}}RuntimeBehavior"),
            application.find("uap:VisualElements", NS).get("AppListEntry"),
            application.get("Executable", "").lower().endswith(".exe")))
    verbs = [(item.get("Type"), verb.get("Clsid"))
             for extension in application.findall("f:Extensions/desktop4:Extension", NS)
             if extension.get("Category") == "windows.fileExplorerContextMenus"
             for item in extension.findall("desktop4:FileExplorerContextMenus/desktop5:ItemType", NS)
             for verb in item.findall("desktop5:Verb", NS)]
    expect(f"{kind}: context-menu verbs for files and folders name the command class",
           [("*", COMMAND_CLASS_ID), ("Directory", COMMAND_CLASS_ID)], verbs)
    classes = [(server.get("DisplayName") is not None, attributes(c, ["Id", "Path", "ThreadingModel"]))
               for extension in application.findall("f:Extensions/com:Extension", NS)
               if extension.get("Category") == "windows.comServer"
               for server in extension.findall("com:ComServer/com:SurrogateServer", NS)
               for c in server.findall("com:Class", NS)]
    expect(f"{kind}: the COM server declares the command class in the installed DLL",
           [(True, {"Id": COMMAND_CLASS_ID, "Path": "Pathlift.dll", "ThreadingModel": "STA"})], classes)
    logos = [manifest.findtext("f:Properties/f:Logo", namespaces=NS)]
    logos += [application.find("uap:VisualElements", NS).get(a) for a in ("Square150x150Logo", "Square44x44Logo")]
    expect(f"{kind}: every logo the manifest names is a PNG in the package", [True] * len(logos),
           [l.replace("\\", "/") in names and l.endswith(".png") for l in logos])


def msi_table(msi, table):
    out = subprocess.run(["msiinfo", "export", msi, table], check=True, capture_output=True, text=True).stdout
    return [line.rstrip("\r").split("\t") for line in out.splitlines()[3:]]


def check_msi(kind, msi, package, publisher, arch="x64"):
    actions = {row[0]: row[1:] for row in msi_table(msi, "CustomAction")}
    sequence = {row[0]: (row[1], int(row[2])) for row in msi_table(msi, "InstallExecuteSequence")}
    components = {row[0]: row for row in msi_table(msi, "Component")}
    files = {row[0]: row for row in msi_table(msi, "File")}
    if kind == "unsigned":
        expect(f"unsigned {arch} MSI: neither the package nor its actions",
               (False, False, False), ("SparsePackage" in files, "RegisterSparsePackage" in actions,
                                       "RemoveSparsePackage" in actions))
        return
    windows11 = "PATHLIFT_WINDOWS_BUILD >= 22000"
    # 1 + 64: a function of a DLL in the Binary table whose failure does not fail the install; + 1024 + 2048:
    # deferred, with the machine's rights; 51: sets the deferred action's data.
    names = ("RegisterSparsePackage", "RemoveSparsePackage", "ProvisionSparsePackage", "DeprovisionSparsePackage")
    expect(f"signed {arch} MSI: the four actions, DLL functions whose result is ignored, two of them elevated, and their data",
           {"RegisterSparsePackage": ["65", "SparsePackageActionDll", "RegisterSparsePackage", ""],
            "RemoveSparsePackage": ["65", "SparsePackageActionDll", "RemoveSparsePackage", ""],
            "ProvisionSparsePackage": ["3137", "SparsePackageActionDll", "ProvisionSparsePackage", ""],
            "DeprovisionSparsePackage": ["3137", "SparsePackageActionDll", "DeprovisionSparsePackage", ""],
            "ProvisionSparsePackageData": ["51", "ProvisionSparsePackage", "[#SparsePackage]|[PATHLIFT_PACKAGE_FAMILY]",
                                           ""],
            "DeprovisionSparsePackageData": ["51", "DeprovisionSparsePackage", "[PATHLIFT_PACKAGE_FAMILY]", ""]},
           {k: actions.get(k) for k in names + ("ProvisionSparsePackageData", "DeprovisionSparsePackageData")})
    install, removal = f'NOT REMOVE~="ALL" AND', f'REMOVE~="ALL" AND'
    expect(f"signed {arch} MSI: on Windows 11, registration after any install and removal on any removal; provisioning"
           " and deprovisioning per machine only",
           [f"{install} {windows11}", f"{removal} {windows11}", f"{install} ALLUSERS AND {windows11}",
            f"{removal} ALLUSERS AND {windows11}", f"{install} ALLUSERS AND {windows11}",
            f"{removal} ALLUSERS AND {windows11}"],
           [sequence[a][0] for a in names + ("ProvisionSparsePackageData", "DeprovisionSparsePackageData")])
    steps = ["AppSearch", "RemoveExistingProducts", "RemoveSparsePackage", "DeprovisionSparsePackageData",
             "ProvisionSparsePackageData", "InstallInitialize", "DeprovisionSparsePackage", "RemoveFiles",
             "InstallFiles", "WriteRegistryValues", "ProvisionSparsePackage", "InstallFinalize", "RegisterSparsePackage"]
    expect(f"signed {arch} MSI: the build is read first, the package goes before the files and comes after them, the"
           " deferred actions inside the script", steps, sorted(steps, key=lambda a: sequence[a][1]))
    expect(f"signed {arch} MSI: the Windows build from the 64-bit registry (raw value)",
           [["WindowsBuildNumber", "2", "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentBuildNumber", "18"]],
           [r for r in msi_table(msi, "RegLocator") if r[0] == "WindowsBuildNumber"])
    expect(f"signed {arch} MSI: AppSearch sets PATHLIFT_WINDOWS_BUILD", [["PATHLIFT_WINDOWS_BUILD", "WindowsBuildNumber"]],
           [r for r in msi_table(msi, "AppSearch") if r[1] == "WindowsBuildNumber"])
    dll_directory = components[files["Pathlift64"][1]][2]
    expect(f"signed {arch} MSI: Pathlift-sparse.msix in the 64-bit DLL's folder, for Windows 11 only",
           ("Pathlift-sparse.msix", dll_directory, windows11),
           (files["SparsePackage"][2], components["SparsePackage"][2], components["SparsePackage"][4]))
    family = sparse_package.family_name(publisher)
    # A component of its own, whose key path is the value: a file and a value that follows the install's context
    # do not share a component.
    registry = [r for r in msi_table(msi, "Registry") if r[-1] == "SparseFamilyName"]
    expect(f"signed {arch} MSI: FamilyName under HKMU (-1), the key path of its own component for Windows 11 only, "
           "and the family property",
           ([["-1", "Software\\Pathlift\\Package", "FamilyName", family, "SparseFamilyName"]],
            [registry[0][0] if registry else None, windows11], family),
           ([r[1:] for r in registry], [components["SparseFamilyName"][5], components["SparseFamilyName"][4]],
            {r[0]: r[1] for r in msi_table(msi, "Property")}.get("PATHLIFT_PACKAGE_FAMILY")))
    with tempfile.TemporaryDirectory() as extract:
        subprocess.run(["msiextract", "-C", extract, msi], check=True, capture_output=True)
        found = [os.path.join(d, f) for d, _, fs in os.walk(extract) for f in fs if f == "Pathlift-sparse.msix"]
        expect(f"signed {arch} MSI: carries the signed package byte for byte", [True],
               [open(f, "rb").read() == open(package, "rb").read() for f in found])


def verify(path, cert):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True, text=True)
    return result.returncode == 0 and "Signature verification: ok" in result.stdout


def main():
    parser = argparse.ArgumentParser()
    for option in ("--unsigned", "--signed", "--cert", "--publisher", "--version"):
        parser.add_argument(option, required=True)
    parser.add_argument("--signed-version", help="the signed build's version, when it is not --version")
    args = parser.parse_args()
    signed_version = args.signed_version or args.version

    # Published pairs of publisher and publisher id, and the placeholder of unsigned builds.
    for publisher, family in [
        ("CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US", "Pathlift_8wekyb3d8bbwe"),
        ("CN=B408A06D-44F7-4860-A12E-644DD44FA743", "Pathlift_f08ys7xx9zb3y"),
    ]:
        expect(f"family name for {publisher}", family, sparse_package.family_name(publisher))

    for kind, dist, publisher, version in (("unsigned", args.unsigned, "CN=Pathlift developers", args.version),
                                           ("signed", args.signed, args.publisher, signed_version)):
        # The x64 package's and the arm64 package's, each with the processor of its 64-bit DLL.
        for arch, suffix in (("x64", ""), ("arm64", "-arm64")):
            package = os.path.join(dist, f"Pathlift-{version}-sparse{suffix}.msix")
            check_package(kind + suffix.replace("-", " "), package, publisher, version, arch)
            check_msi(kind, os.path.join(dist, f"Pathlift-{version}-{arch}.msi"), package, publisher, arch)

    signed = os.path.join(args.signed, f"Pathlift-{signed_version}-sparse.msix")
    unsigned = os.path.join(args.unsigned, f"Pathlift-{args.version}-sparse.msix")
    with tempfile.TemporaryDirectory() as work:
        # One changed bit in a logo's stored data.
        changed = os.path.join(work, "changed.msix")
        data = bytearray(open(signed, "rb").read())
        with zipfile.ZipFile(signed) as archive:
            info = archive.getinfo("Assets/StoreLogo.png")
        data[info.header_offset + 30 + len(info.filename) + 40] ^= 1
        open(changed, "wb").write(data)
        expect("osslsigncode verify: the signed package, the unsigned one, the signed one with a bit changed",
               (True, False, False), (verify(signed, args.cert), verify(unsigned, args.cert), verify(changed, args.cert)))

    if failures:
        print(f"sparse_package_test: {failures} check(s) FAILED")
        return 1
    print("sparse_package_test: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
