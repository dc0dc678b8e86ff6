Attribute VB_Name = "TolvexResults"
' What each result of RecvSO and SendProgress means for the user, and the
' next step; used by TolvexLateBound and TolvexEarlyBound. The same table
' as docs\README.md, "Result codes".
'
' Compare codes, never ErrorMsg's text: the text is Japanese, and the
' editor of an Office in another language cannot even hold it. Only code 0
' needs ErrorMsg, to tell "no data" from success:
'     If rc = 0 And t.ErrorMsg <> "" Then   ' no data
Option Explicit

Public Const MaxCodeLength As Integer = 12   ' the server sees only this much of the code
Public Const MaxKeyLength As Integer = 50    ' and of the key

Private Function InParentheses(ByVal errorMsg As String) As String
  Dim at As Long
  at = InStr(errorMsg, "(")
  If at > 0 Then InParentheses = " " & Mid(errorMsg, at) Else InParentheses = ""
End Function

Public Function Advice(ByVal rc As Integer, ByVal errorMsg As String) As String
  Select Case rc
    Case 0
      If errorMsg <> "" Then
        Advice = "No data: the server holds nothing for this company now; the file was left empty. Nothing to do; try again later."
      Else
        Advice = "Done."
      End If
    Case 1: Advice = "The server URL is empty. Fill in the order server's URL."
    Case 2: Advice = "The company code is empty. Fill in your company code."
    Case 3: Advice = "The access key is empty. Fill in the key the server's operator gave you."
    Case 4: Advice = "The file is not given as text. Pass the full path as a String, not a cell, a number or an empty value."
    Case 5: Advice = "The progress file cannot be opened. Check the path, and close the file in any program that holds it."
    Case 6: Advice = "The progress file is empty. Write the progress first, then send."
    Case 7: Advice = "The archiver could not pack the file" & InParentheses(errorMsg) & ". Check the file and try again; send the trace to support if it repeats."
    Case 8: Advice = "Packing could not run. Check the disk space and that the folder is writable; repair the Tolvex installation."
    Case 9: Advice = "The server could not be reached (its name, the connection, TLS or the proxy). Check the URL and the network; the trace names the cause."
    Case 11: Advice = "The received archive is damaged" & InParentheses(errorMsg) & ". Try again; tell the server's operator if it repeats."
    Case 12: Advice = "The received data could not be written. Check that the folder exists and is writable, the file is not open elsewhere and the disk is not full."
    Case 90: Advice = "The server refused the request: a wrong key, an unknown company code or a request it rejects. Check code and key with the server's operator."
    Case 91: Advice = "The server stopped answering (four minutes without data). Try again later."
    Case 92: Advice = "The server had no response. Try again later; tell the server's operator if it repeats."
    Case 93: Advice = "The reply is not the order server's. Check the URL: the server's base address, not a web page or a proxy's login page."
    Case 99: Advice = "No result: cancelled, another transfer still running, or an unexpected error. If nobody pressed Cancel, try again; send the trace to support if it repeats."
    Case Else: Advice = "Result " & rc & " is unknown to this sample. Tell support."
  End Select
End Function
