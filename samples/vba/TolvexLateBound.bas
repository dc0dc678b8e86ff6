Attribute VB_Name = "TolvexLateBound"
' Receive and send with Tolvex, late bound: no reference to set; works with
' whichever Tolvex.dll of this Office's bitness is installed.
' Import TolvexResults.bas too (or TolvexResults_ja.bas for Japanese
' messages), with File > Import File... Then run ReceiveOrders and
' SendProgressFile with Alt+F8.
'
' As shipped, the four settings below talk to the bundle's sample server
' (tolvex-server.exe --root samples\server --listen 127.0.0.1:8080) and
' work in the folder %USERPROFILE%\Tolvex-sample, which the first call
' makes. Put in your order server's URL, your key and code, and a folder
' of your own.
Option Explicit

Private Const ServerUrl As String = "http://127.0.0.1:8080/"  ' the order server's base URL
Private Const AccessKey As String = "sample-key-C001"         ' at most 50 characters
Private Const CompanyCode As String = "C001"                  ' at most 12 characters
Private Const WorkFolderSetting As String = ""                ' "" = %USERPROFILE%\Tolvex-sample

Private Function WorkFolder() As String
  If WorkFolderSetting <> "" Then WorkFolder = WorkFolderSetting Else WorkFolder = Environ$("USERPROFILE") & "\Tolvex-sample"
End Function

' The object, or Nothing after telling the user why it cannot be made.
' Error 429 ("ActiveX component can't create object") means that no
' Tolvex.dll of this Office's bitness is registered; the other bitness
' does not help.
Private Function NewTolvex() As Object
  On Error GoTo Failed
  Set NewTolvex = CreateObject("TolvexPro.Tolvex")
  Exit Function
Failed:
  Dim package As String
#If Win64 Then
  package = "Tolvex-x64.msi (this Office is 64-bit)"
#Else
  package = "Tolvex-x86.msi (this Office is 32-bit)"
#End If
  MsgBox "Tolvex cannot be created: error " & Err.Number & " (" & Err.Description & ")." & vbCrLf & _
         "Install " & package & "; on 64-bit Windows simply install both packages.", vbCritical
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
  target = WorkFolder() & "\orders.txt"
  Dim rc As Integer
  rc = t.RecvSO(ServerUrl, AccessKey, CompanyCode, target)
  If rc = 0 And t.ErrorMsg <> "" Then
    MsgBox Advice(rc, t.ErrorMsg), vbInformation       ' no data: the file is now empty
  ElseIf rc = 0 Then
    MsgBox "Orders received into " & target, vbInformation
  Else
    Dim kept As String
    kept = KeptData(CStr(target))
    If kept <> "" Then kept = vbCrLf & vbCrLf & "Received data kept in " & kept
    MsgBox "Receiving failed (" & rc & "). " & Advice(rc, t.ErrorMsg) & kept, vbExclamation
  End If
End Sub

' Sends WorkFolder\progress.txt. Where there is none yet, it writes a
' small one first and says so.
Public Sub SendProgressFile()
  Dim t As Object
  Set t = NewTolvex()
  If t Is Nothing Then Exit Sub

  Dim source As Variant, note As String
  source = WorkFolder() & "\progress.txt"
  note = WriteSampleProgress(CStr(source))
  Dim rc As Integer
  rc = t.SendProgress(ServerUrl, AccessKey, CompanyCode, source)
  If rc = 0 Then
    MsgBox note & "Progress sent: " & source, vbInformation
  Else
    MsgBox note & "Sending failed (" & rc & "). " & Advice(rc, t.ErrorMsg), vbExclamation
  End If
End Sub

' Writes a sample progress file where none exists; says what it did.
Private Function WriteSampleProgress(ByVal path As String) As String
  If Dir$(path) <> "" Then Exit Function
  If Dir$(WorkFolder(), vbDirectory) = "" Then MkDir WorkFolder()
  Dim f As Integer
  f = FreeFile
  Open path For Output As #f
  Print #f, "order,step,state,updated"
  Print #f, "W2026-1201,cutting,done," & Format$(Now, "yyyy-mm-dd hh:nn")
  Close #f
  WriteSampleProgress = "There was no progress file, so a sample one was written to " & path & "." & vbCrLf
End Function
