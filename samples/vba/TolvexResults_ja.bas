Attribute VB_Name = "TolvexResults"
' RecvSO と SendProgress の結果コードの意味と次にすべきこと（Advice）、
' 無人で動くコードがやり直してよいか（ShouldRetry）、失敗した受信が
' ファイルの隣に残したデータ（KeptData）。TolvexResults.bas の日本語版で、
' 公開している名前は同じです。どちらか一方だけをインポートしてください。
' このファイルはシフト JIS（コードページ 932）で書かれています。
' 「Unicode 対応ではないプログラムの言語」が日本語の Windows で使ってください。
'
' 判定は結果コードで行い、ErrorMsg の文字列は比べないでください。
' ErrorMsg が必要なのは、コード 0 で「データなし」と成功を区別するときだけです:
'     If rc = 0 And t.ErrorMsg <> "" Then   ' データなし: ファイルは空になった
Option Explicit

Public Const MaxCodeLength As Integer = 12   ' サーバーが読む会社コードの長さ
Public Const MaxKeyLength As Integer = 50    ' サーバーが読むアクセスキーの長さ

' ---- begin generated: advice (プロジェクトの結果コード表から生成。手で編集しないこと) ----
' 結果コードの意味と次にすべきことを、利用者向けのメッセージで返します。
' errorMsg には呼び出し後の ErrorMsg を渡します。コード 0 のときの
' 「データなし」の判別と、アーカイバーのメッセージ（7、11）に使います。
Public Function Advice(ByVal rc As Integer, ByVal errorMsg As String) As String
  Select Case rc
    Case 0
      If errorMsg <> "" Then
        Advice = "受信データはありません（現在この会社あてのデータはサーバーにありません）。" & _
            "ファイルは空（0 バイト）になり、それまでの内容は消えています。対応は不要です。" & _
            "いつもの間隔で次の受信をしてください。" & _
            "受信したデータは次の受信の前に取り込んでください（次の受信でファイルが空になることがあります）。"
      Else
        Advice = "完了しました。"
      End If
    Case 1
      Advice = "サーバーの URL が空です。受注サーバーのベース URL（例: " & _
          "http://orders.example.co.jp/app/）を設定してください。"
    Case 2
      Advice = "会社コードが空か、ファイル名に使えない文字を含んでいます。" & _
          "サーバー管理者から通知された会社コードを設定してください。"
    Case 3
      Advice = "アクセスキーが空です。サーバー管理者から通知されたアクセスキーを設定してください。"
    Case 4
      Advice = "ファイルが文字列で渡されていません。フルパスを String " & _
          "で渡してください（例: CStr(Range(""B1"").Value)）。"
    Case 5
      Advice = "進捗ファイルを開けません。パスを確認し、" & _
          "ファイルを開いているプログラムを閉じてください。"
    Case 6
      Advice = "進捗ファイルが空（0 バイト）です。進捗を書き込んでから送信してください。"
    Case 7
      Advice = "ファイルを圧縮できませんでした" & _
          InParentheses(errorMsg) & _
          "。ファイルを確認してください。繰り返す場合はトレースをサポートに送ってください。"
    Case 8
      Advice = "圧縮処理を実行できませんでした。ファイルのあるフォルダーに書き込めること、" & _
          "ディスクに空きがあることを確認して、もう一度送信してください。"
    Case 9
      Advice = "サーバーに接続できないか、応答が途中で切れました。URL " & _
          "とネットワークを確認してください。原因はトレースに記録されます。"
    Case 11
      Advice = "受信したアーカイブが壊れています" & _
          InParentheses(errorMsg) & _
          "。受信したアーカイブはファイルの隣に「ファイル名.received-日付-時刻." & _
          "zip」として残してあります。消さずに保管し、サーバー管理者に連絡してください。" & _
          "サーバーは同じデータを二度送らないことがあるので、" & _
          "そのまま受信し直さないでください。"
    Case 12
      Advice = "受信データを書き込めないか、ファイルを置き換えられませんでした。" & _
          "サーバーがデータを送っていた場合は、" & _
          "ファイルの隣に「ファイル名.received-日付-時刻」（または .zip）" & _
          "として残してあります（トレースにも名前が出ます）。" & _
          "フォルダーやファイルの問題を直し、残したデータを正しい名前に移してから、" & _
          "次の受信をしてください。"
    Case 90
      Advice = "サーバーが要求を拒否しました。" & _
          "URL・会社コード・アクセスキーをサーバー管理者に確認してください。" & _
          "応答の内容はトレースに記録されます。"
    Case 91
      Advice = "サーバーの応答が止まりました（4 分間、データが届きませんでした）。" & _
          "時間をおいてもう一度実行してください。データを受信し終えていた場合は、" & _
          "ファイルの隣に「ファイル名.received-日付-時刻.zip」" & _
          "として残してあるので、先にそれを取り込んでください。"
    Case 92
      Advice = "サーバーから応答がありませんでした。時間をおいてもう一度実行してください。" & _
          "繰り返す場合はサーバー管理者に連絡してください。"
    Case 93
      Advice = "受注サーバーの応答ではありません。" & _
          "URL（サーバー管理者から通知されたベースアドレス）を確認してください。" & _
          "応答の内容とリダイレクト先はトレースに記録されます。"
    Case 99
      Advice = "結果がありません（中止された、別の転送が実行中、または予期しないエラー）。" & _
          "だれも中止していなければ、もう一度実行してください。" & _
          "データを受信し終えていた場合は、" & _
          "ファイルの隣に「ファイル名.received-日付-時刻.zip」" & _
          "として残してあるので、先にそれを取り込んでください。" & _
          "繰り返す場合はトレースをサポートに送ってください。"
    Case Else
      Advice = "結果コード " & rc & " はこのモジュールでは扱っていません。サポートに連絡してください。"
  End Select
End Function

' 無人で動くコードが、同じ呼び出しを後でやり直してよいか（コード
' 8, 9, 91, 92, 99）。受信ではそのファイルを渡してください。失敗した受信が
' 隣に残したデータ（KeptData）があれば、人の対応が先なので False です。
Public Function ShouldRetry(ByVal rc As Integer, Optional ByVal receivedFile As String = "") As Boolean
  ShouldRetry = False
  If receivedFile <> "" Then
    If KeptData(receivedFile) <> "" Then Exit Function
  End If
  Select Case rc
    Case 8, 9, 91, 92, 99
      ShouldRetry = True
  End Select
End Function

' 失敗した受信がファイルの隣に残したデータ。なければ ""。
' 名前は ファイル名.received-日付-時刻（受信したアーカイブなら .zip 付き）、
' その名前が長すぎるときは同じフォルダーの received-日付-時刻-コード.dat（.zip）。
' 正しい名前に移すか担当者に渡してください。自動では削除されません。
Public Function KeptData(ByVal file As String) As String
  Dim folder As String, found As String, cut As Long
  cut = InStrRev(file, "\")
  If InStrRev(file, "/") > cut Then cut = InStrRev(file, "/")
  folder = Left$(file, cut)
  On Error Resume Next
  found = Dir$(file & ".received-*")
  If found = "" Then found = Dir$(folder & "received-*-*.dat")
  If found = "" Then found = Dir$(folder & "received-*-*.zip")
  On Error GoTo 0
  If found <> "" Then KeptData = folder & found
End Function

Private Function InParentheses(ByVal errorMsg As String) As String
  Dim at As Long
  at = InStr(errorMsg, "(")
  If at > 0 Then InParentheses = " " & Mid(errorMsg, at) Else InParentheses = ""
End Function
' ---- end generated: advice ----
