Attribute VB_Name = "TolvexEarlyBound"
' Receive and send with Tolvex, early bound: the editor checks the calls
' and completes RecvSO, SendProgress and ErrorMsg as you type.
' Needs the reference: Tools > References... > tick "TolvexPro". Import
' TolvexResults.bas too (or TolvexResults_ja.bas for Japanese messages).
'
' When only the Tolvex of the other bitness is installed, the reference
' still resolves (both share the type library) but New fails with run-time
' error 429; NewTolvex below says which package is missing. Only when no
' Tolvex at all is installed does the reference show as
' "MISSING: TolvexPro" and compiling stop with "Can't find project or
' library".
'
' As shipped, the settings talk to the bundle's sample server
' (tolvex-server.exe --root samples\server --listen 127.0.0.1:8080) and
' work in %USERPROFILE%\Tolvex-sample.
Option Explicit

Private Const ServerUrl As String = "http://127.0.0.1:8080/"
Private Const AccessKey As String = "sample-key-C001"
Private Const CompanyCode As String = "C001"
Private Const WorkFolderSetting As String = ""                ' "" = %USERPROFILE%\Tolvex-sample

Private Function WorkFolder() As String
  If WorkFolderSetting <> "" Then WorkFolder = WorkFolderSetting Else WorkFolder = Environ$("USERPROFILE") & "\Tolvex-sample"
End Function

' The object, or Nothing after telling the user why it cannot be made.
Private Function NewTolvex() As TolvexPro.Tolvex
  On Error GoTo Failed
  Set NewTolvex = New TolvexPro.Tolvex
  Exit Function
Failed:
  Dim package As String
#If Win64 Then
  package = "Tolvex-x64.msi (this Office is 64-bit)"
#Else
  package = "Tolvex-x86.msi (this Office is 32-bit)"
#End If
  MsgBox "Tolvex cannot be created: error " & Err.Number & " (" & Err.Description & ")." & vbCrLf & _
         "Error 429 means no Tolvex.dll of this Office's bitness is installed. Install " & package & _
         "; on 64-bit Windows simply install both packages.", vbCritical
  Set NewTolvex = Nothing
End Function

' The first three parameters are ByRef String: pass String variables,
' constants or expressions. A Variant variable stops the compiler with
' "ByRef argument type mismatch"; wrap it in CStr(). The fourth is a
' ByRef Variant and takes a String variable as it is. Named arguments
' work too: t.RecvSO(RecvURL:=url, RecvKey:=key, RecvCode:=code, vRecvFile:=target)
Public Sub ReceiveOrdersEarlyBound()
  Dim t As TolvexPro.Tolvex
  Set t = NewTolvex()
  If t Is Nothing Then Exit Sub

  Dim url As String, key As String, code As String, target As String
  url = ServerUrl
  key = AccessKey
  code = CompanyCode
  target = WorkFolder() & "\orders.txt"

  Dim rc As Integer
  rc = t.RecvSO(url, key, code, target)
  If rc = 0 And t.ErrorMsg <> "" Then
    MsgBox Advice(rc, t.ErrorMsg), vbInformation       ' no data: the file is now empty
  ElseIf rc = 0 Then
    MsgBox "Orders received into " & target, vbInformation
  Else
    Dim kept As String
    kept = KeptData(target)
    If kept <> "" Then kept = vbCrLf & vbCrLf & "Received data kept in " & kept
    MsgBox "Receiving failed (" & rc & "). " & Advice(rc, t.ErrorMsg) & kept, vbExclamation
  End If
End Sub

' Sends WorkFolder\progress.txt; where there is none yet, writes a small
' one first and says so.
Public Sub SendProgressEarlyBound()
  Dim t As TolvexPro.Tolvex
  Set t = NewTolvex()
  If t Is Nothing Then Exit Sub

  Dim url As String, key As String, code As String, source As String, note As String
  url = ServerUrl
  key = AccessKey
  code = CompanyCode
  source = WorkFolder() & "\progress.txt"
  If Dir$(source) = "" Then
    If Dir$(WorkFolder(), vbDirectory) = "" Then MkDir WorkFolder()
    Dim f As Integer
    f = FreeFile
    Open source For Output As #f
    Print #f, "order,step,state,updated"
    Print #f, "W2026-1201,cutting,done," & Format$(Now, "yyyy-mm-dd hh:nn")
    Close #f
    note = "There was no progress file, so a sample one was written to " & source & "." & vbCrLf
  End If

  Dim rc As Integer
  rc = t.SendProgress(url, key, code, source)
  If rc = 0 Then
    MsgBox note & "Progress sent: " & source, vbInformation
  Else
    MsgBox note & "Sending failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub
