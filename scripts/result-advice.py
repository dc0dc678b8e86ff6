#!/usr/bin/env python3
"""The result-code tables and advice functions, written from one table,
and the helpers both VBScript samples share.

    scripts/result-advice.py write               rewrite the generated parts
    scripts/result-advice.py check               fail when one differs
    scripts/result-advice.py check --bundle DIR  the same for an unpacked bundle

The table is docs/result-codes.toml. Each file below holds parts between a
"begin generated: NAME" and an "end generated: NAME" line; everything else
in it is written by hand. `check` also compares the table's texts with
src/component/result_codes.h (not in a bundle, which has no sources).
"""
import argparse
import pathlib
import re
import sys
import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "docs" / "result-codes.toml"
ARCHIVER_TEXT = {"en": " (the archiver's text)", "ja": "（アーカイバーのメッセージ）"}


def load():
    with open(TABLE, "rb") as f:
        return tomllib.load(f)


def cell(text):
    return text.replace("|", "\\|").replace("\n", " ")


def sentence(row, lang, detail):
    """The summary with its {detail} filled in."""
    key = "summary" if lang == "en" else "summary_ja"
    return row[key].replace("{detail}", detail)


def code_label(row, lang):
    label = str(row["code"])
    if row.get("case") == "no-data":
        label += ", `ErrorMsg` not empty" if lang == "en" else "（`ErrorMsg` が空でない）"
    return label


def calls_label(row, lang):
    if row["calls"] == "both":
        return "both" if lang == "en" else "両方"
    return f"`{row['calls']}`"


def shown_text(row, lang):
    override = row.get("text_doc" if lang == "en" else "text_doc_ja")
    if override:
        return override
    if row["text"] == "":
        return "(empty)" if lang == "en" else "（空）"
    return row["text"]


def meaning(row, lang):
    return row.get("meaning" if lang == "en" else "meaning_ja") or sentence(
        row, lang, ARCHIVER_TEXT[lang])


def texts_table(table, lang, with_cli=False):
    head = {
        "en": "| Code | Text in `ErrorMsg` | Call | Meaning |",
        "ja": "| コード | `ErrorMsg` の文字列 | メソッド | 意味 |",
    }[lang]
    lines = [head, "|---|---|---|---|"]
    for row in table["row"]:
        lines.append(f"| {code_label(row, lang)} | {cell(shown_text(row, lang))} | "
                     f"{calls_label(row, lang)} | {cell(meaning(row, lang))} |")
    if with_cli:
        for row in table.get("cli", []):
            lines.append(f"| {row['code']} | (none) | | {cell(row['meaning'])} |")
    return lines


def advice_table(table, lang):
    sfx = "" if lang == "en" else "_ja"
    head = {
        "en": "| Code | What happened | Typical causes | What to do | Retry unattended? |",
        "ja": "| コード | 何が起きたか | 主な原因 | 対処 | 自動で再試行 |",
    }[lang]
    lines = [head, "|---|---|---|---|---|"]
    for row in table["row"]:
        code = code_label(row, lang)
        if row["calls"] != "both":
            code += f" (`{row['calls']}`)" if lang == "en" else f"（`{row['calls']}`）"
        action = row["action" + sfx] or ("nothing" if lang == "en" else "不要")
        lines.append(f"| {code} | {cell(sentence(row, lang, ARCHIVER_TEXT[lang]))} | "
                     f"{cell(row['causes' + sfx])} | {cell(action)} | {cell(row['retry_note' + sfx])} |")
    return lines


# --- Visual Basic -----------------------------------------------------------


def vb_literal_pieces(text, width):
    """Splits text into pieces of at most about `width` characters, after a
    space or Japanese punctuation where there is one, as VB string literals."""
    pieces = []
    while len(text) > width:
        cut = width
        for at in range(width, width // 3, -1):
            if text[at - 1] in " 、。）」" and text[at] != " ":
                cut = at
                break
        pieces.append(text[:cut])
        text = text[cut:]
    if pieces and len(text) < 12:
        pieces[-1] += text
    else:
        pieces.append(text)
    return ['"' + p.replace('"', '""') + '"' for p in pieces]


def vb_expression(row, lang, width):
    """The advice of a row as a VB expression over errorMsg."""
    sfx = "" if lang == "en" else "_ja"
    summary = row["summary" + sfx]
    action = row["action" + sfx]
    joiner = " " if lang == "en" else ""
    parts = summary.split("{detail}")
    parts[-1] = parts[-1] + (joiner + action if action else "")
    pieces = []
    for i, part in enumerate(parts):
        if i > 0:
            pieces.append("InParentheses(errorMsg)")
        if part:
            pieces.extend(vb_literal_pieces(part, width))
    return pieces


def vb_assign(name, pieces, indent):
    out = [f"{indent}{name} = {pieces[0]}"]
    for piece in pieces[1:]:
        out[-1] += " & _"
        out.append(f"{indent}    {piece}")
    return out


def vb_module(table, lang, script):
    """Advice, ShouldRetry, KeptData and InParentheses, in VBA or VBScript."""
    width = 80 if lang == "en" else 40
    rows = table["row"]
    ok = next(r for r in rows if r["code"] == 0 and not r.get("case"))
    no_data = next(r for r in rows if r.get("case") == "no-data")
    typed = (lambda s: "") if script else (lambda s: s)
    out = []
    if lang == "en":
        out += [
            "' What a result means and what to do next, as a message for the user.",
            "' errorMsg is the object's ErrorMsg after the call: it tells \"no data\"",
            "' from success when the code is 0, and carries the archiver's text (7, 11).",
        ]
    else:
        out += [
            "' 結果コードの意味と次にすべきことを、利用者向けのメッセージで返します。",
            "' errorMsg には呼び出し後の ErrorMsg を渡します。コード 0 のときの",
            "' 「データなし」の判別と、アーカイバーのメッセージ（7、11）に使います。",
        ]
    out.append(("Function Advice(rc, errorMsg)" if script else
                "Public Function Advice(ByVal rc As Integer, ByVal errorMsg As String) As String"))
    out.append("  Select Case rc")
    out.append("    Case 0")
    out.append("      If errorMsg <> \"\" Then")
    out += vb_assign("Advice", vb_expression(no_data, lang, width), "        ")
    out.append("      Else")
    out += vb_assign("Advice", vb_expression(ok, lang, width), "        ")
    out.append("      End If")
    for row in rows:
        if row["code"] == 0:
            continue
        out.append(f"    Case {row['code']}")
        out += vb_assign("Advice", vb_expression(row, lang, width), "      ")
    out.append("    Case Else")
    unknown = ('"Result " & rc & " is unknown to this module. Tell support."' if lang == "en" else
               '"結果コード " & rc & " はこのモジュールでは扱っていません。サポートに連絡してください。"')
    out.append(f"      Advice = {unknown}")
    out.append("  End Select")
    out.append("End Function")
    out.append("")
    retry_codes = ", ".join(str(r["code"]) for r in rows if r["retry"])
    if lang == "en":
        out += [
            "' Whether code that runs unattended may make the same call again later",
            f"' (codes {retry_codes}). For a receive, give its file: data that a failed",
            "' receive kept beside it (KeptData) needs a person first, so no retry then.",
        ]
    else:
        out += [
            "' 無人で動くコードが、同じ呼び出しを後でやり直してよいか（コード",
            f"' {retry_codes}）。受信ではそのファイルを渡してください。失敗した受信が",
            "' 隣に残したデータ（KeptData）があれば、人の対応が先なので False です。",
        ]
    out.append("Function ShouldRetry(rc, receivedFile)" if script else
               "Public Function ShouldRetry(ByVal rc As Integer, Optional ByVal receivedFile As String = \"\") As Boolean")
    out.append("  ShouldRetry = False")
    out.append("  If receivedFile <> \"\" Then")
    out.append("    If KeptData(receivedFile) <> \"\" Then Exit Function")
    out.append("  End If")
    out.append("  Select Case rc")
    out.append(f"    Case {retry_codes}")
    out.append("      ShouldRetry = True")
    out.append("  End Select")
    out.append("End Function")
    out.append("")
    if lang == "en":
        out += [
            "' The data a failed receive kept beside FILE, \"\" when there is none:",
            "' FILE.received-YYYYMMDD-HHMMSS, with .zip when it is the received archive,",
            "' or received-YYYYMMDD-HHMMSS-CODE.dat (.zip) in the same folder where that",
            "' name would be too long. Move it into place or hand it on; nothing deletes it.",
        ]
    else:
        out += [
            "' 失敗した受信がファイルの隣に残したデータ。なければ \"\"。",
            "' 名前は ファイル名.received-日付-時刻（受信したアーカイブなら .zip 付き）、",
            "' その名前が長すぎるときは同じフォルダーの received-日付-時刻-コード.dat（.zip）。",
            "' 正しい名前に移すか担当者に渡してください。自動では削除されません。",
        ]
    if script:
        out += [
            "Function KeptData(file)",
            "  Dim fso, folder, prefix, f",
            "  KeptData = \"\"",
            "  Set fso = CreateObject(\"Scripting.FileSystemObject\")",
            "  folder = fso.GetParentFolderName(file)",
            "  If folder = \"\" Or Not fso.FolderExists(folder) Then Exit Function",
            "  prefix = LCase(fso.GetFileName(file)) & \".received-\"",
            "  For Each f In fso.GetFolder(folder).Files",
            "    If Left(LCase(f.Name), Len(prefix)) = prefix Or _",
            "       (Left(LCase(f.Name), 9) = \"received-\" And (LCase(Right(f.Name, 4)) = \".zip\" Or LCase(Right(f.Name, 4)) = \".dat\")) Then",
            "      KeptData = f.Path",
            "      Exit Function",
            "    End If",
            "  Next",
            "End Function",
        ]
    else:
        out += [
            "Public Function KeptData(ByVal file As String) As String",
            "  Dim folder As String, found As String, cut As Long",
            "  cut = InStrRev(file, \"\\\")",
            "  If InStrRev(file, \"/\") > cut Then cut = InStrRev(file, \"/\")",
            "  folder = Left$(file, cut)",
            "  On Error Resume Next",
            "  found = Dir$(file & \".received-*\")",
            "  If found = \"\" Then found = Dir$(folder & \"received-*-*.dat\")",
            "  If found = \"\" Then found = Dir$(folder & \"received-*-*.zip\")",
            "  On Error GoTo 0",
            "  If found <> \"\" Then KeptData = folder & found",
            "End Function",
        ]
    out.append("")
    out.append("Function InParentheses(errorMsg)" if script else
               "Private Function InParentheses(ByVal errorMsg As String) As String")
    out += [
        "  Dim at" + typed(" As Long"),
        "  at = InStr(errorMsg, \"(\")",
        "  If at > 0 Then InParentheses = \" \" & Mid(errorMsg, at) Else InParentheses = \"\"",
        "End Function",
    ]
    return out


# What both VBScript samples share besides the advice: making the object
# (429 explained), the bundle's sample folder, the length warnings.
VBS_HELPERS = [
    "' The object, or Nothing after saying why it cannot be made. Error 429",
    '\' ("ActiveX component can\'t create object") means no Tolvex.dll is',
    "' registered for this script host's bitness.",
    'Function NewTolvex()',
    '  Dim bits, other',
    '  Set NewTolvex = Nothing',
    '  On Error Resume Next',
    '  Set NewTolvex = CreateObject("TolvexPro.Tolvex")',
    '  If Err.Number = 0 Then Exit Function',
    '  WScript.Echo "CreateObject(""TolvexPro.Tolvex""): error " & Err.Number & " (" & Err.Description & ")"',
    '  On Error GoTo 0',
    '  If CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE") = "x86" Then',
    '    bits = "32-bit": other = "Tolvex-x86.msi"',
    '  Else',
    '    bits = "64-bit": other = "Tolvex-x64.msi"',
    '  End If',
    '  WScript.Echo "No Tolvex is registered for this " & bits & " cscript. Install " & other & _',
    '    " (on 64-bit Windows simply install both packages), or run the cscript of the other bitness:" & _',
    '    " cscript (64-bit) or %WINDIR%\\SysWOW64\\cscript.exe (32-bit)."',
    'End Function',
    '',
    "' The sample data folder of the bundle: samples\\client beside this folder.",
    'Function SampleFolder()',
    '  SampleFolder = fso.BuildPath(fso.GetParentFolderName(fso.GetParentFolderName(WScript.ScriptFullName)), "client")',
    'End Function',
    '',
    'Sub WarnAboutLengths(key, code)',
    '  If Len(code) > MaxCodeLength Then WScript.Echo "warning: the server reads only " & Left(code, MaxCodeLength) & " of the code"',
    '  If Len(key) > MaxKeyLength Then WScript.Echo "warning: the server reads only the first " & MaxKeyLength & " characters of the key"',
    'End Sub',
]


# --- The files and their parts ----------------------------------------------

# path, encoding, line end, in the bundle, {part name: lines}
def targets(table):
    return [
        ("README.md", "utf-8", "\n", False, {
            "texts": texts_table(table, "en", with_cli=True),
            "advice": advice_table(table, "en"),
        }),
        ("docs/REFERENCE.md", "utf-8", "\n", True, {
            "texts": texts_table(table, "en"),
            "advice": advice_table(table, "en"),
        }),
        ("docs/ja/RESULT-CODES.md", "utf-8", "\n", True, {
            "texts": texts_table(table, "ja"),
            "advice": advice_table(table, "ja"),
        }),
        ("samples/vba/TolvexResults.bas", "ascii", "\r\n", True, {
            "advice": vb_module(table, "en", script=False),
        }),
        ("samples/vba/TolvexResults_ja.bas", "cp932", "\r\n", True, {
            "advice": vb_module(table, "ja", script=False),
        }),
        ("samples/vbs/receive.vbs", "ascii", "\r\n", True, {
            "helpers": VBS_HELPERS,
            "advice": vb_module(table, "en", script=True),
        }),
        ("samples/vbs/send.vbs", "ascii", "\r\n", True, {
            "helpers": VBS_HELPERS,
            "advice": vb_module(table, "en", script=True),
        }),
    ]


def begin_re(name):
    return re.compile(r"^.*begin generated: " + re.escape(name) + r"\b.*$")


def end_re(name):
    return re.compile(r"^.*end generated: " + re.escape(name) + r"\b.*$")


def rewrite(text, newline, parts, path):
    lines = text.split(newline)
    for name, body in parts.items():
        starts = [i for i, line in enumerate(lines) if begin_re(name).match(line)]
        ends = [i for i, line in enumerate(lines) if end_re(name).match(line)]
        if len(starts) != 1 or len(ends) != 1 or ends[0] < starts[0]:
            raise SystemExit(f"{path}: no single 'begin generated: {name}' ... 'end generated: {name}'")
        lines[starts[0] + 1:ends[0]] = body
    return newline.join(lines)


def header_texts():
    """code -> fixed text, from result_codes.h; "no-data" for the second text of 0."""
    source = (ROOT / "src/component/result_codes.h").read_text(encoding="utf-8")
    names = dict(re.findall(r"(kResult\w+) = (\d+),", source))
    constants = dict(re.findall(r"(k\w+) = u\"([^\"]*)\";", source))
    texts = {}
    for name, value in re.findall(r"\{(kResult\w+), (u\"[^\"]*\"|k\w+),", source):
        texts[int(names[name])] = value[2:-1] if value.startswith("u\"") else constants[value]
    texts["no-data"] = constants["kTextNoData"]
    return texts


def check_texts(table):
    faults = []
    texts = header_texts()
    for row in table["row"]:
        key = row.get("case") or row["code"]
        want = texts.get(key)
        got = row["text"]
        if got.endswith("…)"):
            got = got[:-2]
        if want != got:
            faults.append(f"docs/result-codes.toml: code {key} says {got!r}, result_codes.h {want!r}")
    listed = {r.get("case") or r["code"] for r in table["row"]}
    for key in texts:
        if key not in listed:
            faults.append(f"docs/result-codes.toml: no row for code {key}")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["write", "check"])
    parser.add_argument("--bundle", type=pathlib.Path, help="an unpacked bundle to check")
    args = parser.parse_args()
    table = load()
    base = args.bundle or ROOT
    faults = [] if args.bundle else check_texts(table)
    for path, encoding, newline, in_bundle, parts in targets(table):
        if args.bundle and not in_bundle:
            continue
        file = base / path
        if not file.exists():
            faults.append(f"{path}: missing")
            continue
        text = file.read_bytes().decode(encoding)
        wanted = rewrite(text, newline, parts, path)
        if args.mode == "write":
            if wanted != text:
                file.write_bytes(wanted.encode(encoding))
                print(f"wrote {path}")
        elif wanted != text:
            faults.append(f"{path}: a generated part differs from docs/result-codes.toml "
                          "(scripts/result-advice.py write)")
    for fault in faults:
        print("FAIL " + fault, file=sys.stderr)
    if args.mode == "check" and not faults:
        print("result advice: every generated part matches docs/result-codes.toml")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
