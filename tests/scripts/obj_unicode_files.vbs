' Scripting.FileSystemObject Unicode text files: UTF-16 LE with a byte
' order mark, told apart from one-byte text when read.
Set fso = CreateObject("Scripting.FileSystemObject")
name = "unicode.txt"
Set f = fso.CreateTextFile(name, True, True)
f.WriteLine "caf" & Chr(233)
f.Write "line two"
f.Close
WScript.Echo "written:", fso.GetFile(name).Size
Set f = fso.OpenTextFile(name, 1, False, -1)
WScript.Echo "start:", f.Line, f.Column, f.AtEndOfStream
l = f.ReadLine
WScript.Echo "read line:", Len(l), Asc(Right(l, 1)), f.Line, f.Column
WScript.Echo "read:", f.Read(4), f.Column
f.Skip 1
WScript.Echo "read all:", f.ReadAll, f.AtEndOfStream, f.Line, f.Column
f.Close
Set f = fso.OpenTextFile(name, 1, False, -2)
WScript.Echo "default format:", f.ReadLine = "caf" & Chr(233), f.ReadLine
f.Close
Set f = fso.OpenTextFile(name, 8, False, -1)
f.WriteLine
f.Write "three"
f.Close
WScript.Echo "appended:", fso.GetFile(name).Size
Set f = fso.OpenTextFile(name, 1, False, -1)
all = f.ReadAll
f.Close
WScript.Echo "whole:", Len(all), Left(all, 3), Right(all, 5), Mid(all, 5, 2) = vbCrLf
Set f = fso.OpenTextFile(name, 1, False, -1)
n = 0
Do Until f.AtEndOfStream
  n = n + 1
  l = f.ReadLine
  WScript.Echo "line " & n & ":", Len(l), Left(l, 3)
Loop
f.Close
Set f = fso.OpenTextFile("fresh.txt", 2, True, -1)
f.Write "ab"
f.Close
WScript.Echo "fresh:", fso.GetFile("fresh.txt").Size
Set f = fso.GetFile("fresh.txt").OpenAsTextStream(8, -1)
f.Write "cd"
f.Close
Set f = fso.GetFile("fresh.txt").OpenAsTextStream(1, -1)
WScript.Echo "as stream:", fso.GetFile("fresh.txt").Size, f.ReadAll
f.Close
Set f = fso.OpenTextFile("ansi.txt", 2, True, 0)
f.Write "ab" & Chr(233)
f.Close
Set f = fso.OpenTextFile("ansi.txt", 1, False, -2)
WScript.Echo "one-byte:", fso.GetFile("ansi.txt").Size, Asc(Right(f.ReadAll, 1))
f.Close
Set f = fso.CreateTextFile("plain.txt", True, False)
f.Write "ab"
f.Close
WScript.Echo "not Unicode:", fso.GetFile("plain.txt").Size
fso.DeleteFile "*.txt"
WScript.Echo "done"
