#!/usr/bin/env python3
"""Pathlift's sparse package: a payload-free MSIX whose manifest gives the 64-bit Pathlift.dll in the install folder
(the package's external location) a package identity, so that Windows 11 shows its Explorer command in the
top-level context menu. --arch names the DLL's processor: x64, or arm64 for Windows on ARM.

    sparse_package.py build --version a.b.c.d --publisher SUBJECT --class-id {GUID} [--arch x64|arm64] --out FILE.msix
    sparse_package.py publisher PFX       the certificate's subject as Windows writes it (the manifest's Publisher);
                                          the password comes from PATHLIFT_SIGN_PASSWORD
    sparse_package.py family-name SUBJECT  the package family name Windows gives the package of that publisher

No Debian package writes MSIX files. This writes the little a package needs: AppxManifest.xml, the logos it names,
AppxBlockMap.xml (a SHA-256 hash of every 64 KiB block of each file) and [Content_Types].xml, in a zip whose
payload entries are stored uncompressed, so that the block map needs no compressed sizes. A signature
(AppxSignature.p7x) is added afterwards by osslsigncode.
"""

import argparse
import base64
import hashlib
import io
import os
import struct
import subprocess
import sys
import zipfile
import zlib
from xml.sax.saxutils import escape, quoteattr

# The identity's name; with the publisher it makes the package family name.
PACKAGE_NAME = "Pathlift"
# The Explorer command's title as the package lists it; Explorer shows the title the command itself gives.
DISPLAY_NAME = "Pathlift"
DESCRIPTION = "選択ファイル名／パスをクリップボードにコピーします。"
# Packages with an external location exist from Windows 10 2004 (build 19041); the top-level context menu that
# lists packaged Explorer commands from Windows 11 (build 22000).
MIN_VERSION = "10.0.19041.0"
MAX_VERSION_TESTED = "10.0.22621.0"
BLOCK_SIZE = 64 * 1024
# Every entry gets this time stamp, so the same inputs give the same bytes.
ZIP_TIME = (1980, 1, 1, 0, 0, 0)

LOGOS = {
    "Assets\\StoreLogo.png": 50,
    "Assets\\Square44x44Logo.png": 44,
    "Assets\\Square150x150Logo.png": 150,
}

MANIFEST = """<?xml version="1.0" encoding="utf-8"?>
<Package xmlns="http://schemas.microsoft.com/appx/manifest/foundation/windows10"
         xmlns:uap="http://schemas.microsoft.com/appx/manifest/uap/windows10"
         xmlns:uap10="http://schemas.microsoft.com/appx/manifest/uap/windows10/10"
         xmlns:rescap="http://schemas.microsoft.com/appx/manifest/foundation/windows10/restrictedcapabilities"
         xmlns:desktop4="http://schemas.microsoft.com/appx/manifest/desktop/windows10/4"
         xmlns:desktop5="http://schemas.microsoft.com/appx/manifest/desktop/windows10/5"
         xmlns:com="http://schemas.microsoft.com/appx/manifest/com/windows10"
         IgnorableNamespaces="uap uap10 rescap desktop4 desktop5 com">
  <Identity Name={name} Publisher={publisher} Version={version} ProcessorArchitecture={arch}/>
  <Properties>
    <DisplayName>{display_name}</DisplayName>
    <PublisherDisplayName>Pathlift developers</PublisherDisplayName>
    <Logo>Assets\\StoreLogo.png</Logo>
    <uap10:AllowExternalContent>true</uap10:AllowExternalContent>
  </Properties>
  <Resources>
    <Resource Language="en-us"/>
    <Resource Language="ja-jp"/>
  </Resources>
  <Dependencies>
    <TargetDeviceFamily Name="Windows.Desktop" MinVersion="{min_version}" MaxVersionTested="{max_version}"/>
  </Dependencies>
  <Capabilities>
    <rescap:Capability Name="runFullTrust"/>
    <rescap:Capability Name="unvirtualizedResources"/>
  </Capabilities>
  <Applications>
    <!-- The schema wants one application to carry the extensions and an executable for it. Nothing starts it:
         AppListEntry="none" keeps it out of the Start menu, and the install folder holds no such program. -->
    <Application Id="Pathlift" Executable="Pathlift.exe" uap10:TrustLevel="mediumIL" uap10:RuntimeBehavior="win32App">
      <uap:VisualElements AppListEntry="none" DisplayName={display_name_attr} Description={description}
                          BackgroundColor="transparent" Square150x150Logo="Assets\\Square150x150Logo.png"
                          Square44x44Logo="Assets\\Square44x44Logo.png"/>
      <Extensions>
        <desktop4:Extension Category="windows.fileExplorerContextMenus">
          <desktop4:FileExplorerContextMenus>
            <desktop5:ItemType Type="*">
              <desktop5:Verb Id="CopyPath" Clsid="{clsid}"/>
            </desktop5:ItemType>
            <desktop5:ItemType Type="Directory">
              <desktop5:Verb Id="CopyPath" Clsid="{clsid}"/>
            </desktop5:ItemType>
          </desktop4:FileExplorerContextMenus>
        </desktop4:Extension>
        <com:Extension Category="windows.comServer">
          <com:ComServer>
            <com:SurrogateServer DisplayName="Pathlift">
              <com:Class Id="{clsid}" Path="Pathlift.dll" ThreadingModel="STA"/>
            </com:SurrogateServer>
          </com:ComServer>
        </com:Extension>
      </Extensions>
    </Application>
  </Applications>
</Package>
"""

CONTENT_TYPES = (
    '<?xml version="1.0" encoding="UTF-8"?>\r\n'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="png" ContentType="image/png"/>'
    '<Override PartName="/AppxManifest.xml" ContentType="application/vnd.ms-appx.manifest+xml"/>'
    '<Override PartName="/AppxBlockMap.xml" ContentType="application/vnd.ms-appx.blockmap+xml"/>'
    "</Types>"
)


def png(size):
    """A square logo: a blue tile with a white page whose folded corner and text lines are blue."""
    rows = []
    for y in range(size):
        row = bytearray([0])  # filter type: none
        for x in range(size):
            u, v = x / size, y / size
            pixel = (0x1F, 0x5F, 0xBF, 0xFF)
            if 0.25 <= u < 0.75 and 0.15 <= v < 0.85:
                pixel = (0xFF, 0xFF, 0xFF, 0xFF)
                if u - 0.6 > v - 0.15:  # the folded corner
                    pixel = (0x1F, 0x5F, 0xBF, 0xFF)
                elif 0.33 <= u < 0.67 and any(abs(v - line) < 0.025 for line in (0.45, 0.55, 0.65, 0.75)):
                    pixel = (0x1F, 0x5F, 0xBF, 0xFF)
            row += bytes(pixel)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
            + chunk(b"IEND", b""))


def publisher_id(publisher):
    """The publisher id of a package family name: the first 8 bytes of the SHA-256 hash of the publisher in
    UTF-16LE, as 13 characters of Douglas Crockford's base32 (the 64 bits and one zero bit)."""
    digest = hashlib.sha256(publisher.encode("utf-16-le")).digest()
    bits = int.from_bytes(digest[:8], "big") << 1
    alphabet = "0123456789abcdefghjkmnpqrstvwxyz"
    return "".join(alphabet[(bits >> (5 * (12 - i))) & 31] for i in range(13))


def family_name(publisher):
    return f"{PACKAGE_NAME}_{publisher_id(publisher)}"


# The attribute names Windows writes in a certificate's subject (CertNameToStr with CERT_X500_NAME_STR, the names
# CertStrToName accepts); any other attribute appears as OID.<number>, as the EV attributes 2.5.4.15
# (businessCategory) and 1.3.6.1.4.1.311.60.2.1.x (jurisdiction) do.
WINDOWS_NAMES = {
    "2.5.4.3": "CN", "2.5.4.4": "SN", "2.5.4.5": "SERIALNUMBER", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "S",
    "2.5.4.9": "STREET", "2.5.4.10": "O", "2.5.4.11": "OU", "2.5.4.12": "T", "2.5.4.13": "Description",
    "2.5.4.17": "PostalCode", "2.5.4.18": "POBox", "2.5.4.20": "Phone", "2.5.4.24": "X21Address", "2.5.4.42": "G",
    "2.5.4.43": "I", "2.5.4.46": "dnQualifier", "1.2.840.113549.1.9.1": "E", "0.9.2342.19200300.100.1.25": "DC",
}
# CertNameToStr quotes a value that is empty, starts or ends with white space or holds one of these.
QUOTED_CHARACTERS = ',+="\r\n<>#;'


def windows_value(value):
    if value == "" or value[0].isspace() or value[-1].isspace() or any(c in value for c in QUOTED_CHARACTERS):
        return '"' + value.replace('"', '""') + '"'
    return value


def windows_subject(rdns):
    """The subject as Windows writes it (CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG): the relative names from
    the last to the first, separated by ", ", the attributes of one relative name in their order, separated by
    " + "."""
    return ", ".join(" + ".join(f"{WINDOWS_NAMES.get(oid, 'OID.' + oid)}={windows_value(value)}" for oid, value in rdn)
                     for rdn in reversed(rdns))


def der(data, at):
    """The tag, the start and the end of the contents of the DER element at data[at]."""
    tag, length = data[at], data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[at:at + count], "big")
        at += count
    return tag, at, at + length


def der_children(data, start, end):
    while start < end:
        tag, content, after = der(data, start)
        yield tag, content, after
        start = after


def oid_text(body):
    arcs, value = [], 0
    for byte in body:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            arcs.append(value)
            value = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(arc) for arc in [first, arcs[0] - 40 * first] + arcs[1:])


def string_value(tag, body):
    """A directory string as Windows decodes it: T61String as UTF-8 when it is that, else as 8-bit text."""
    if tag == 0x1E:  # BMPString
        return body.decode("utf-16-be")
    if tag == 0x1C:  # UniversalString
        return body.decode("utf-32-be")
    if tag == 0x14:  # T61String
        try:
            return body.decode("utf-8")
        except UnicodeDecodeError:
            return body.decode("latin-1")
    if tag in (0x0C, 0x12, 0x13, 0x16, 0x1A):  # UTF8, Numeric, Printable, IA5, Visible
        return body.decode("utf-8")
    raise ValueError(f"subject attribute of ASN.1 type {tag:#x}, which no publisher can name")


def subject_rdns(certificate):
    """The relative names of a DER certificate's subject, in the certificate's order, each a list of
    (oid, value)."""
    _, start, end = der(certificate, der(certificate, 0)[1])
    fields = list(der_children(certificate, start, end))
    if fields[0][0] == 0xA0:  # [0] version
        fields = fields[1:]
    _, name_start, name_end = fields[4]  # serialNumber, signature, issuer, validity, subject
    rdns = []
    for _, set_start, set_end in der_children(certificate, name_start, name_end):
        rdn = []
        for _, pair_start, pair_end in der_children(certificate, set_start, set_end):
            (_, oid_start, oid_end), (tag, value_start, value_end) = der_children(certificate, pair_start, pair_end)
            rdn.append((oid_text(certificate[oid_start:oid_end]), string_value(tag, certificate[value_start:value_end])))
        rdns.append(rdn)
    return rdns


def certificate_subject(pfx):
    """The relative names of the PKCS#12 file's certificate's subject, read from its DER bytes: no text form of
    openssl's keeps every space and separator."""
    password = os.environ.get("PATHLIFT_SIGN_PASSWORD", "")
    pem = subprocess.run(["openssl", "pkcs12", "-in", pfx, "-nokeys", "-clcerts", "-passin", "env:PASSWORD"],
                         env={**os.environ, "PASSWORD": password}, check=True, capture_output=True).stdout
    certificate = subprocess.run(["openssl", "x509", "-outform", "DER"], input=pem, check=True,
                                 capture_output=True).stdout
    return subject_rdns(certificate)


def block_map(files):
    """AppxBlockMap.xml for the (zip name, data) pairs: each file's uncompressed data in 64 KiB blocks. The files
    are stored, so a block has no compressed size; LfhSize is the zip's local header with the name and no extra
    field."""
    out = ['<?xml version="1.0" encoding="UTF-8"?>\r\n<BlockMap xmlns="http://schemas.microsoft.com/appx/2010/blockmap"'
           ' HashMethod="http://www.w3.org/2001/04/xmlenc#sha256">']
    for name, data in files:
        out.append(f'<File Name={quoteattr(name.replace("/", chr(92)))} Size="{len(data)}"'
                   f' LfhSize="{30 + len(name.encode("utf-8"))}">')
        for at in range(0, len(data), BLOCK_SIZE):
            digest = base64.b64encode(hashlib.sha256(data[at:at + BLOCK_SIZE]).digest()).decode("ascii")
            out.append(f'<Block Hash="{digest}"/>')
        out.append("</File>")
    out.append("</BlockMap>")
    return "".join(out).encode("utf-8")


def build(version, publisher, class_id, out, arch="x64"):
    clsid = class_id.strip("{}").upper()
    manifest = MANIFEST.format(
        name=quoteattr(PACKAGE_NAME), publisher=quoteattr(publisher), version=quoteattr(version), arch=quoteattr(arch),
        display_name=escape(DISPLAY_NAME), display_name_attr=quoteattr(DISPLAY_NAME),
        description=quoteattr(DESCRIPTION), min_version=MIN_VERSION, max_version=MAX_VERSION_TESTED, clsid=clsid)
    payload = [("AppxManifest.xml", manifest.encode("utf-8"))]
    payload += [(name.replace("\\", "/"), png(size)) for name, size in LOGOS.items()]
    entries = payload + [("AppxBlockMap.xml", block_map(payload)),
                         ("[Content_Types].xml", CONTENT_TYPES.encode("utf-8"))]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, ZIP_TIME)
            info.create_system = 0  # MS-DOS, as Windows' packager writes it
            # The footprint files are deflated, as Windows' packager does: osslsigncode rewrites [Content_Types].xml
            # deflated but keeps the entry's method, which leaves a stored one unreadable.
            info.compress_type = zipfile.ZIP_STORED if (name, data) in payload else zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    with open(out, "wb") as f:
        f.write(buffer.getvalue())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    b = commands.add_parser("build")
    b.add_argument("--version", required=True)
    b.add_argument("--publisher", required=True)
    b.add_argument("--class-id", required=True)
    b.add_argument("--arch", choices=("x64", "arm64"), default="x64")
    b.add_argument("--out", required=True)
    commands.add_parser("publisher").add_argument("pfx")
    commands.add_parser("family-name").add_argument("publisher")
    args = parser.parse_args()
    if args.command == "build":
        build(args.version, args.publisher, args.class_id, args.out, args.arch)
    elif args.command == "publisher":
        print(windows_subject(certificate_subject(args.pfx)))
    else:
        print(family_name(args.publisher))


if __name__ == "__main__":
    sys.exit(main())
