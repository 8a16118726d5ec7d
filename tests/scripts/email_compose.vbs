' Composing a message: every status text of the composing methods. The
' script itself is the one file known to exist in the working folder.
Set m = CreateObject("PellarLib.Email")
WScript.Echo m.Clear()
WScript.Echo m.Body("Dear all,")
WScript.Echo m.Body("figures & notes below")
WScript.Echo m.BodyFile("")
WScript.Echo m.BodyFile("missing.txt")
WScript.Echo m.BodyFile("email_compose.vbs")
WScript.Echo m.HTML("<p>Dear all,</p>")
WScript.Echo m.HTMLFile("")
WScript.Echo m.HTMLFile("missing.html")
WScript.Echo m.HTMLFile("email_compose.vbs")
WScript.Echo "[" & m.HTMLFilePreview("preview.html") & "]", m.HTMLFilePreview("")
WScript.Echo m.Attach("")
WScript.Echo m.Attach("nothing.csv")
WScript.Echo m.Attach("email_compose.vbs")
WScript.Echo m.Attach("email_compose.vbs")
WScript.Echo m.Edit("", "x")
WScript.Echo m.Edit("%NAME%", "Ada")
WScript.Echo m.Edit("%EMPTY%", "")
WScript.Echo m.EditFile("", "x")
WScript.Echo m.EditFile("%TABLE%", "table.html")
user = "reports"
password = "secret"
WScript.Echo m.SetServerLogin(user, password), user, password
tag = "Cc"
value = "Tom & Jerry <tj@example.com>"
WScript.Echo m.AddTag(tag, value)
WScript.Echo tag, value
WScript.Echo m.Command("Priority", "high")
WScript.Echo m.Clear()
WScript.Echo "done"
