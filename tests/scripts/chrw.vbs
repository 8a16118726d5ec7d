' native-only
' ChrW makes one UTF-16 code unit; Echo writes UTF-8.
WScript.Echo ChrW(65) & ChrW(8364) & ChrW(233)
WScript.Echo ChrW(55357) & ChrW(56832), Len(ChrW(55357) & ChrW(56832))
' A lone surrogate cannot be written as UTF-8.
WScript.Echo "[" & ChrW(55357) & "]"
' Negative codes count from 65536.
WScript.Echo ChrW(-1), Len(ChrW(0)), Len(ChrW(65535))
On Error Resume Next
x = ChrW(65536)
WScript.Echo Err.Number, Err.Description
Err.Clear
x = ChrW(-32769)
WScript.Echo Err.Number
WScript.Echo "done"
