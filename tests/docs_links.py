#!/usr/bin/env python3
"""Every relative link and image of README.md and the pages under docs/ resolves: the file or folder exists and a
#fragment names a heading of the page it points at (GitHub's anchors). Links in code are not links.

    docs_links.py ROOT

Prints each broken link as FILE:LINE: TARGET: WHY, then a summary; exits 1 when one is broken.
"""

import re
import sys
from pathlib import Path
from urllib.parse import unquote

INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s.*)?$")
HTML = re.compile(r"<(?:img|a)\s[^>]*?(?:src|href)=\"([^\"]+)\"", re.I)


def prose_lines(text):
    """(line number, line) of the text outside fenced and indented code blocks, with code spans blanked."""
    fence = None
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        marker = re.match(r"(`{3,}|~{3,})", stripped)
        if fence:
            if marker and marker.group(1)[0] == fence[0] and len(marker.group(1)) >= len(fence):
                fence = None
            continue
        if marker:
            fence = marker.group(1)
            continue
        indented = line.startswith("    ") or line.startswith("\t")
        if indented and (previous_blank or in_indented):
            in_indented = True
            continue
        in_indented = False
        previous_blank = not line.strip()
        yield number, re.sub(r"(`+).+?\1", "", line)


def anchors(page):
    """GitHub's anchors of a page's headings: lower case, punctuation dropped, spaces as hyphens, repeats numbered."""
    seen = {}
    result = set()
    for _, line in prose_lines(page.read_text(encoding="utf-8")):
        heading = re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not heading:
            continue
        slug = re.sub(r"[^\w\- ]", "", heading.group(1).lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else f"{slug}-{count}")
    return result


def problem(source, target):
    if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
        return None  # an address on the web or elsewhere: not checked here
    path_part, _, fragment = target.partition("#")
    resolved = (source.parent / unquote(path_part)).resolve() if path_part else source
    if not resolved.exists():
        return "no such file"
    if fragment and resolved.suffix == ".md" and unquote(fragment).lower() not in anchors(resolved):
        return f"no heading #{fragment} in {resolved.name}"
    return None


def main():
    root = Path(sys.argv[1]).resolve()
    pages = [root / "README.md"] + sorted((root / "docs").rglob("*.md"))
    links = broken = 0
    for page in pages:
        for number, line in prose_lines(page.read_text(encoding="utf-8")):
            targets = INLINE.findall(line) + HTML.findall(line)
            reference = REFERENCE.match(line)
            if reference:
                targets.append(reference.group(1))
            for target in targets:
                links += 1
                why = problem(page, target)
                if why:
                    broken += 1
                    print(f"FAIL {page.relative_to(root)}:{number}: {target}: {why}")
    print(f"docs_links: {links} links in {len(pages)} pages, {broken} broken")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
