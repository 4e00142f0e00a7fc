#!/usr/bin/env python3
"""Writes the Windows Package Manager (winget) manifest of one release: the version, installer and default-locale
files of manifest version 1.10.0, into <out>/<identifier>/<version>/, as the community repository takes them.

Each of the three MSI packages is offered twice, per machine and per user (MSIINSTALLPERUSER=1 on the package's
ALLUSERS=2), with the SHA-256 of the file just built. The download address of each file comes from a template that
the person publishing gives (--url-template or PATHLIFT_RELEASE_URL), in which {version} and {file} stand for the
version and the file's name; without one the manifests name an address under release-url-not-set.invalid, which
no installer can be downloaded from, and the script says so.

Usage: winget_manifest.py --dist DIR --out DIR --version A.B.C.D --upgrade-code {GUID}
           --product-code x64={GUID} --product-code arm64={GUID} --product-code x86={GUID}
           [--url-template URL] [--release-notes FILE] [--license FILE]
"""

import argparse
import hashlib
import os
import re
import sys
from pathlib import Path

import yaml

IDENTIFIER = "Pathlift.Pathlift"
MANIFEST_VERSION = "1.10.0"
LOCALE = "en-US"
PUBLISHER = "Pathlift developers"
PLACEHOLDER_URL = "https://release-url-not-set.invalid/Pathlift/{version}/{file}"
# x64 and x86 are built for Windows 7 (_WIN32_WINNT 0x0601, Windows Installer 5); ARM64 desktop programs run from
# Windows 10 version 1709, the first Windows on ARM.
MINIMUM_OS = {"x64": "6.1.7600.0", "arm64": "10.0.16299.0", "x86": "6.1.7600.0"}
# Each package refuses the Windows it cannot serve in its launch conditions: x64 on Windows on ARM (its Explorer
# loads no x64 DLL), x86 on every 64-bit Windows (its Explorer loads no 32-bit DLL). winget would otherwise offer
# an x86 installer on x64 and ARM64 Windows, and an x64 one on ARM64 Windows under emulation.
UNSUPPORTED = {"x64": ["arm64"], "arm64": [], "x86": ["x64", "arm64"]}
# A per-machine install writes Program Files and HKLM and cannot ask for consent under /quiet; a per-user one run
# elevated would install into the elevating account's profile instead of the user's.
ELEVATION = {"machine": "elevationRequired", "user": "elevationProhibited"}
# 3010: an upgrade or removal that found the old DLL loaded by Explorer; it is deleted at the next restart.
SUCCESS_CODES = [3010]
SCHEMA_URL = "https://aka.ms/winget-manifest.{kind}.{version}.schema.json"
RELEASE_NOTES_LIMIT = 10000


def release_notes(path, version):
    """The section of the release notes headed by this version, as plain text, or None."""
    if not path or not Path(path).is_file():
        return None
    text = Path(path).read_text(encoding="utf-8")
    match = re.search(r"^## " + re.escape(version) + r"[ \t]*\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    if not match or not match.group(1).strip():
        return None
    # A line that goes on with an indent continues the line before it: the notes are wrapped for reading here,
    # winget shows them as they are.
    notes = re.sub(r"\n[ \t]+", " ", match.group(1).strip())
    return notes[:RELEASE_NOTES_LIMIT]


def licence(path):
    """The licence's name and its copyright line, from the licence file's first lines."""
    lines = [line.strip() for line in Path(path).read_text(encoding="utf-8").splitlines() if line.strip()]
    name = lines[0]
    name = name[: -len(" License")] if name.endswith(" License") else name
    copyright_line = next((line for line in lines if line.startswith("Copyright")), None)
    return name, copyright_line


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest().upper()


class ManifestDumper(yaml.SafeDumper):
    """Plain YAML as the community repository's manifests are written: every value spelled out (no anchors and
    aliases), text of several lines as a literal block."""

    def ignore_aliases(self, data):
        return True


def represent_text(dumper, text):
    return dumper.represent_scalar("tag:yaml.org,2002:str", text, style="|" if "\n" in text else None)


ManifestDumper.add_representer(str, represent_text)


def write(path, kind, document):
    header = f"# yaml-language-server: $schema={SCHEMA_URL.format(kind=kind, version=MANIFEST_VERSION)}\n\n"
    body = yaml.dump(document, Dumper=ManifestDumper, sort_keys=False, allow_unicode=True, width=120)
    path.write_text(header + body, encoding="utf-8")


def installers(args, template):
    entries = []
    for arch in ("x64", "arm64", "x86"):
        file_name = f"Pathlift-{args.version}-{arch}.msi"
        msi = Path(args.dist) / file_name
        if not msi.is_file():
            sys.exit(f"winget_manifest: {msi} is missing")
        digest = sha256(msi)
        for scope in ("machine", "user"):
            entry = {
                "Architecture": arch,
                "InstallerType": "wix",
                "Scope": scope,
                "InstallerUrl": template.format(version=args.version, file=file_name),
                "InstallerSha256": digest,
                "MinimumOSVersion": MINIMUM_OS[arch],
            }
            if UNSUPPORTED[arch]:
                entry["UnsupportedOSArchitectures"] = UNSUPPORTED[arch]
            if scope == "user":
                entry["InstallerSwitches"] = {"Custom": "MSIINSTALLPERUSER=1"}
            entry.update({
                "InstallerSuccessCodes": SUCCESS_CODES,
                "UpgradeBehavior": "install",
                "ElevationRequirement": ELEVATION[scope],
                "ProductCode": args.product_code[arch],
                "AppsAndFeaturesEntries": [{
                    "DisplayName": "Pathlift",
                    "Publisher": PUBLISHER,
                    "ProductCode": args.product_code[arch],
                    "UpgradeCode": args.upgrade_code,
                    "InstallerType": "wix",
                }],
            })
            entries.append(entry)
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dist", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--upgrade-code", required=True)
    parser.add_argument("--product-code", action="append", default=[], metavar="ARCH={GUID}")
    parser.add_argument("--url-template", default=os.environ.get("PATHLIFT_RELEASE_URL", ""))
    parser.add_argument("--release-notes")
    parser.add_argument("--license", default="LICENSE")
    args = parser.parse_args()
    args.product_code = dict(item.split("=", 1) for item in args.product_code)
    if set(args.product_code) != {"x64", "arm64", "x86"}:
        sys.exit("winget_manifest: give --product-code for x64, arm64 and x86")

    template = args.url_template
    if template:
        if not re.match(r"^https://", template) or "{file}" not in template:
            sys.exit(f"winget_manifest: the release URL template {template!r} must start with https:// and contain "
                     "{file} (and may contain {version}), for example "
                     "https://github.com/OWNER/pathlift/releases/download/v{version}/{file}")
    else:
        template = PLACEHOLDER_URL

    folder = Path(args.out) / IDENTIFIER / args.version
    folder.mkdir(parents=True, exist_ok=True)
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": args.version}
    write(folder / f"{IDENTIFIER}.yaml", "version",
          {**common, "DefaultLocale": LOCALE, "ManifestType": "version", "ManifestVersion": MANIFEST_VERSION})
    write(folder / f"{IDENTIFIER}.installer.yaml", "installer",
          {**common, "Platform": ["Windows.Desktop"], "Installers": installers(args, template),
           "ManifestType": "installer", "ManifestVersion": MANIFEST_VERSION})

    licence_name, copyright_line = licence(args.license)
    locale = {**common, "PackageLocale": LOCALE, "Publisher": PUBLISHER, "PackageName": "Pathlift",
              "Moniker": "pathlift", "License": licence_name}
    if copyright_line:
        locale["Copyright"] = copyright_line
    locale.update({
        "ShortDescription": "Copy the paths of the selected files and folders from Explorer's context menu.",
        "Description": "A Windows Explorer extension that adds \"選択ファイルのパスをコピー\" (copy the path of the "
                       "selected files) to the context menu of files and folders. Its dialog formats the paths "
                       "(full path, file name or UNC path; short names; extension dropped; spaces as %20; quoting; "
                       "directory separator; separator between items; letter case) and puts the text on the "
                       "clipboard.",
        "Tags": ["clipboard", "context-menu", "explorer", "path", "shell-extension"],
    })
    notes = release_notes(args.release_notes, args.version)
    if notes:
        locale["ReleaseNotes"] = notes
    locale.update({"ManifestType": "defaultLocale", "ManifestVersion": MANIFEST_VERSION})
    write(folder / f"{IDENTIFIER}.locale.{LOCALE}.yaml", "defaultLocale", locale)

    if template == PLACEHOLDER_URL:
        print(f"winget_manifest: no release URL given (PATHLIFT_RELEASE_URL or --release-url): the manifests in "
              f"{folder} name {PLACEHOLDER_URL.format(version=args.version, file='<file>')} as the download "
              "address; build again with the release's URL template before publishing them", file=sys.stderr)
    if not notes:
        print(f"winget_manifest: no release notes for {args.version} in {args.release_notes}: the locale file has "
              "none", file=sys.stderr)
    print(folder)


if __name__ == "__main__":
    main()
