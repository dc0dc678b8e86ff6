#!/usr/bin/env python3
"""The release bundle's documents: the package codes they list, and the
checks a bundle must pass before it ships.

    scripts/bundle.py fill STAGE    write the codes of STAGE's .msi files into its documents
    scripts/bundle.py check STAGE   check an unpacked bundle (scripts/release.sh runs it)
    scripts/bundle.py repo          check the codes the repository's documents list

`check` fails on a link or bundle path in a document that does not resolve
in the bundle, a missing licence, changelog or notices file, a binary
whose version block lacks CompanyName, FileDescription or LegalCopyright
or names another version, package codes in the documents that differ from
the packages, and result advice that differs from docs/result-codes.toml.
`fill` and `check` read the packages with msiinfo (msitools).
"""
import pathlib
import re
import struct
import subprocess
import sys
import unicodedata
import urllib.parse
import uuid

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The documents that list the packages' codes, between "begin generated:
# packages" and "end generated: packages".
CODE_DOCS = ["docs/DEPLOYING.md", "docs/ja/DEPLOYING.md"]
REQUIRED = ["README.txt", "README-ja.txt", "LICENSE.txt", "CHANGELOG.md", "THIRD-PARTY-NOTICES.txt",
            "docs/REFERENCE.md", "docs/DEPLOYING.md", "docs/SERVER.md", "docs/ja/README.md",
            "docs/ja/RESULT-CODES.md", "docs/ja/DEPLOYING.md", "x86/Tolvex.dll", "x64/Tolvex.dll",
            "tolvex-server.exe", "Tolvex-x86.msi", "Tolvex-x64.msi", "SHA256SUMS"]
# What the quick start makes: the documents name these before they exist.
MADE_BY_SAMPLES = ["samples/client/orders.txt", "samples/server/inbox"]
BINARIES = ["x86/Tolvex.dll", "x64/Tolvex.dll", "tolvex-server.exe"]
VERSION_FIELDS = ["CompanyName", "FileDescription", "LegalCopyright"]


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(Tolvex VERSION ([0-9.]+)", text).group(1)


def version_text(version):
    major, minor, patch = (int(p) for p in version.split("."))
    return f"{major}.{minor:02d}.{patch:04d}"


# --- Package codes -----------------------------------------------------------


def msi_properties(msi):
    out = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                         capture_output=True, text=True).stdout
    return dict(line.split("\t", 1) for line in out.splitlines()[3:] if "\t" in line)


def codes_of_bundle(stage):
    rows = []
    for msi in sorted(stage.glob("Tolvex-*.msi")):
        p = msi_properties(msi)
        rows.append((msi.name, p["ProductName"], p["ProductVersion"], p["ProductCode"],
                     p["UpgradeCode"]))
    return rows


def codes_of_repo():
    """The codes the packages of this version get, as msi.cmake and
    Tolvex.wxs make them."""
    version = project_version()
    wxs = (ROOT / "platform/win32/installer/Tolvex.wxs").read_text()
    # Tolvex.wxs defines them in this order: x64 per user, x64 per machine,
    # x86 per user, x86 per machine.
    found = re.findall(r'<\?define UpgradeCode = "([0-9A-F-]+)" \?>', wxs)
    if len(found) != 4:
        raise SystemExit("Tolvex.wxs: four upgrade codes expected")
    upgrade = dict(zip([("x64", "user"), ("x64", "machine"), ("x86", "user"), ("x86", "machine")], found))
    cmake = (ROOT / "platform/win32/installer/msi.cmake").read_text()
    namespace = uuid.UUID(re.search(r"NAMESPACE ([0-9A-F-]+)", cmake).group(1))
    rows = []
    for arch in ("x64", "x86"):
        for scope, suffix, name in (("user", "-user", " for this user"), ("machine", "", "")):
            product = str(uuid.uuid5(namespace, f"Tolvex-{arch}{suffix}-{version}")).upper()
            rows.append((f"Tolvex-{arch}{suffix}.msi", f"Tolvex ({arch}){name}", version,
                         "{" + product + "}", "{" + upgrade[arch, scope] + "}"))
    return sorted(rows)


def codes_table(rows, japanese):
    head = ("| パッケージ | 製品名 | バージョン | ProductCode | UpgradeCode |" if japanese else
            "| Package | Product name | Version | ProductCode | UpgradeCode |")
    return [head, "|---|---|---|---|---|"] + [
        f"| `{msi}` | {name} | {version} | `{product}` | `{upgrade}` |"
        for msi, name, version, product, upgrade in rows]


def rewrite_block(text, body):
    lines = text.split("\n")
    starts = [i for i, l in enumerate(lines) if "begin generated: packages" in l]
    ends = [i for i, l in enumerate(lines) if "end generated: packages" in l]
    if len(starts) != 1 or len(ends) != 1:
        raise ValueError("no single 'begin generated: packages' ... 'end generated: packages'")
    lines[starts[0] + 1:ends[0]] = body
    return "\n".join(lines)


def elevation_faults(stage):
    """A per-user package must say that it needs no elevation: bit 3 of its
    summary's word count, which msiinfo shows as "Source"."""
    faults = []
    for msi in sorted(stage.glob("Tolvex-*-user.msi")):
        out = subprocess.run(["msiinfo", "suminfo", str(msi)], check=True, capture_output=True,
                             text=True).stdout
        found = re.search(r"^Source: (\d+)", out, re.M)
        if not found or not int(found.group(1)) & 8:
            faults.append(f"{msi.name}: its summary does not say that it needs no elevation")
    return faults


def code_faults(base, rows, write):
    faults = []
    for doc in CODE_DOCS:
        path = base / doc
        if not path.exists():
            continue
        text = path.read_text(encoding="utf-8")
        try:
            wanted = rewrite_block(text, codes_table(rows, "/ja/" in doc))
        except ValueError as error:
            faults.append(f"{doc}: {error}")
            continue
        if write:
            path.write_text(wanted, encoding="utf-8")
        elif wanted != text:
            faults.append(f"{doc}: the package codes differ from the packages' own")
    return faults


# --- Links -------------------------------------------------------------------


def slug(heading):
    """The anchor a Markdown viewer (GitHub's rule) gives a heading."""
    text = re.sub(r"`|\*\*|\*|_", "", heading.strip()).lower()
    kept = "".join(c for c in text if c in " -_" or unicodedata.category(c)[0] in "LN")
    return kept.replace(" ", "-")


def anchors(md):
    found = set()
    in_code = False
    for line in md.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            in_code = not in_code
        elif not in_code and line.startswith("#"):
            found.add(slug(line.lstrip("#")))
    return found


LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
# A path into the bundle as its documents spell it: docs\REFERENCE.md,
# samples/vbs/send.vbs, x64\Tolvex.dll.
BUNDLE_PATH = re.compile(r"(?<![\w%\\/.-])((?:docs|samples|x86|x64)[\\/][A-Za-z0-9_.\\/-]*[A-Za-z0-9_][\\/]?)")


def link_faults(stage):
    faults = []
    documents = [p for p in stage.rglob("*") if p.suffix in (".md", ".txt") and p.is_file()]
    for doc in documents:
        rel = doc.relative_to(stage).as_posix()
        text = doc.read_text(encoding="utf-8-sig", errors="replace")
        if doc.suffix == ".md":
            for target in LINK.findall(text):
                if re.match(r"[a-z]+:", target):
                    continue
                file, _, fragment = target.partition("#")
                where = (doc.parent / urllib.parse.unquote(file)).resolve() if file else doc
                if not where.exists() or stage.resolve() not in [where, *where.parents]:
                    faults.append(f"{rel}: link to {target}: no such file in the bundle")
                elif fragment and where.suffix == ".md" and fragment not in anchors(where):
                    faults.append(f"{rel}: link to {target}: no such heading")
        for mention in BUNDLE_PATH.findall(text):
            path = mention.replace("\\", "/").rstrip("/")
            made = any(path == m or path.startswith(m + "/") for m in MADE_BY_SAMPLES)
            if not made and not (stage / path).exists() and not (doc.parent / path).exists():
                faults.append(f"{rel}: names {mention}, which is not in the bundle")
    return faults


# --- Version blocks ------------------------------------------------------------


def version_strings(pe_bytes):
    """The StringFileInfo strings of a PE file's version resource."""
    data = pe_bytes
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = []
    for i in range(sections):
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + i * 40 + 8)
        spans.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA outside every section")

    base = offset(resource_rva)

    def entries(at):
        named, ids = struct.unpack_from("<12xHH", data, at)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, at + 16 + i * 8)
            yield name, target

    def first_leaf(target):
        while target & 0x80000000:
            target = next(entries(base + (target & 0x7FFFFFFF)))[1]
        rva, size = struct.unpack_from("<II", data, base + target)
        return data[offset(rva):offset(rva) + size]

    version = next((t for n, t in entries(base) if n == 16), None)
    if version is None:
        return {}
    block = first_leaf(version)

    def parse(at, end):
        """(key, value text, children) of the block at `at`."""
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_bytes]
        text = value.decode("utf-16-le").rstrip("\0") if kind == 1 else None
        children = []
        child = (value_at + value_bytes + 3) & ~3
        stop = min(at + length, end)
        while child + 6 <= stop:
            child_length = struct.unpack_from("<H", block, child)[0]
            if child_length == 0:
                break
            children.append(parse(child, stop))
            child = (child + child_length + 3) & ~3
        return key, text, children

    strings = {}
    _, _, children = parse(0, len(block))
    for key, _, tables in children:
        if key == "StringFileInfo":
            for _, _, table_strings in tables:
                for name, text, _ in table_strings:
                    strings[name] = text or ""
    return strings


def version_faults(stage):
    faults = []
    wanted = version_text(project_version())
    for binary in BINARIES:
        path = stage / binary
        if not path.exists():
            continue
        try:
            strings = version_strings(path.read_bytes())
        except (ValueError, struct.error, StopIteration) as error:
            faults.append(f"{binary}: no readable version block ({error})")
            continue
        for field in VERSION_FIELDS:
            if not strings.get(field):
                faults.append(f"{binary}: the version block has no {field}")
        if strings.get("FileVersion") != wanted:
            faults.append(f"{binary}: FileVersion {strings.get('FileVersion')!r}, the project's is {wanted}")
    return faults


# --- Commands ----------------------------------------------------------------


def check(stage):
    faults = [f"{name}: missing" for name in REQUIRED if not (stage / name).exists()]
    faults += link_faults(stage)
    faults += version_faults(stage)
    faults += code_faults(stage, codes_of_bundle(stage), write=False)
    faults += elevation_faults(stage)
    advice = subprocess.run([sys.executable, str(ROOT / "scripts/result-advice.py"), "check",
                             "--bundle", str(stage)], capture_output=True, text=True)
    faults += [line.removeprefix("FAIL ") for line in advice.stderr.splitlines() if line.strip()]
    return faults


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("fill", "check", "repo") or \
            (sys.argv[1] != "repo" and len(sys.argv) != 3):
        print(__doc__, file=sys.stderr)
        return 64
    mode = sys.argv[1]
    if mode == "fill":
        stage = pathlib.Path(sys.argv[2])
        faults = code_faults(stage, codes_of_bundle(stage), write=True)
    elif mode == "repo":
        faults = code_faults(ROOT, codes_of_repo(), write="--write" in sys.argv)
    else:
        faults = check(pathlib.Path(sys.argv[2]))
    for fault in faults:
        print("FAIL " + fault, file=sys.stderr)
    if not faults:
        print({"fill": "package codes written", "repo": "the documents' package codes hold",
               "check": "bundle checks passed"}[mode])
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
