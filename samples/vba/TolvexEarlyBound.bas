Attribute VB_Name = "TolvexEarlyBound"
' Receive and send with Tolvex, early bound: the editor checks the calls
' and completes RecvSO, SendProgress and ErrorMsg as you type.
' Needs the reference: Tools > References... > tick "TolvexPro". A
' reference shown as "MISSING: TolvexPro" means no Tolvex of this Office's
' bitness is installed; compiling then stops at the first line that uses
' it ("Can't find project or library"). Import TolvexResults.bas too.
Option Explicit

Private Const ServerUrl As String = "http://127.0.0.1:8080/"
Private Const AccessKey As String = "sample-key-C001"
Private Const CompanyCode As String = "C001"
Private Const WorkFolder As String = "C:\work"

' The first three parameters are ByRef String: pass String variables,
' constants or expressions. A Variant variable stops the compiler with
' "ByRef argument type mismatch"; wrap it in CStr(). The fourth is a
' ByRef Variant and takes a String variable as it is.
Public Sub ReceiveOrdersEarlyBound()
  Dim t As TolvexPro.Tolvex
  Set t = New TolvexPro.Tolvex

  Dim url As String, key As String, code As String, target As String
  url = ServerUrl
  key = AccessKey
  code = CompanyCode
  target = WorkFolder & "\orders.txt"

  Dim rc As Integer
  rc = t.RecvSO(url, key, code, target)
  If rc = 0 And t.ErrorMsg <> "" Then
    MsgBox Advice(rc, t.ErrorMsg), vbInformation       ' no data: an empty file
  ElseIf rc = 0 Then
    MsgBox "Orders received into " & target, vbInformation
  Else
    MsgBox "Receiving failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub

Public Sub SendProgressEarlyBound()
  Dim t As New TolvexPro.Tolvex
  Dim url As String, key As String, code As String, source As String
  url = ServerUrl
  key = AccessKey
  code = CompanyCode
  source = WorkFolder & "\progress.txt"

  Dim rc As Integer
  rc = t.SendProgress(url, key, code, source)
  If rc = 0 Then
    MsgBox "Progress sent.", vbInformation
  Else
    MsgBox "Sending failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub
