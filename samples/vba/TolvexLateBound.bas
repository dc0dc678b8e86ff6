Attribute VB_Name = "TolvexLateBound"
' Receive and send with Tolvex, late bound: no reference to set, works
' with whichever Tolvex.dll of this Office's bitness is installed.
' Import TolvexResults.bas too (File > Import File...). Fill in the four
' settings, then run ReceiveOrders or SendProgressFile (Alt+F8).
'
' CreateObject fails with run-time error 429 ("ActiveX component can't
' create object") when no Tolvex.dll of this Office's bitness is
' registered: 32-bit Office needs Tolvex-x86.msi, 64-bit Office
' Tolvex-x64.msi (docs\README.md, "Which DLL or MSI").
Option Explicit

Private Const ServerUrl As String = "http://127.0.0.1:8080/"  ' the order server's base URL
Private Const AccessKey As String = "sample-key-C001"         ' at most 50 characters
Private Const CompanyCode As String = "C001"                  ' at most 12 characters
Private Const WorkFolder As String = "C:\work"

Private Function NewTolvex() As Object
  On Error GoTo Failed
  Set NewTolvex = CreateObject("TolvexPro.Tolvex")
  Exit Function
Failed:
  MsgBox "Tolvex is not installed for this Office (error " & Err.Number & ": " & Err.Description & _
         "). Install the Tolvex MSI of this Office's bitness.", vbCritical
  Set NewTolvex = Nothing
End Function

' The order of the arguments is URL, key, code, file. The first three are
' Strings, the file a Variant that must hold a String: a cell (Range) or a
' number gives 4, so take a cell's text with CStr(Range("B1").Value).
Public Sub ReceiveOrders()
  Dim t As Object
  Set t = NewTolvex()
  If t Is Nothing Then Exit Sub
  If Len(CompanyCode) > MaxCodeLength Or Len(AccessKey) > MaxKeyLength Then
    MsgBox "The code or key is longer than the server reads (12 and 50 characters).", vbExclamation
    Exit Sub
  End If

  Dim target As Variant
  target = WorkFolder & "\orders.txt"
  Dim rc As Integer
  rc = t.RecvSO(ServerUrl, AccessKey, CompanyCode, target)
  If rc = 0 And t.ErrorMsg <> "" Then
    MsgBox Advice(rc, t.ErrorMsg), vbInformation       ' no data: an empty file
  ElseIf rc = 0 Then
    MsgBox "Orders received into " & target, vbInformation
  Else
    MsgBox "Receiving failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub

Public Sub SendProgressFile()
  Dim t As Object
  Set t = NewTolvex()
  If t Is Nothing Then Exit Sub

  Dim source As Variant
  source = WorkFolder & "\progress.txt"
  Dim rc As Integer
  rc = t.SendProgress(ServerUrl, AccessKey, CompanyCode, source)
  If rc = 0 Then
    MsgBox "Progress sent.", vbInformation
  Else
    MsgBox "Sending failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub
