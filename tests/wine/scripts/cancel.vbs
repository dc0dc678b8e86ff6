' Shown with a display: the dialog waits for Cancel before its job starts.
' Arguments: base URL, work directory. Expects 99 and an empty ErrorMsg.
' Runs after common.vbs (Option Explicit, the texts T, Expect).
Dim o, r
Set o = CreateObject("TolvexPro.Tolvex")
o.ErrorMsg = "before"
r = o.RecvSO(WScript.Arguments(0), "KEY001", "C001", WScript.Arguments(1) & "\cancelled.txt")
If r = 99 And o.ErrorMsg = "" Then
  WScript.Echo "ok   cancel before the job: 99, empty ErrorMsg"
  WScript.Echo "cancel.vbs: all passed"
  WScript.Quit 0
End If
WScript.Echo "FAIL cancel before the job: got " & r & ", ErrorMsg '" & o.ErrorMsg & "'"
WScript.Quit 1
