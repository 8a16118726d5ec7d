' Scripting.FileSystemObject folders and files: made, listed, measured,
' copied, moved and deleted, all inside the test's own folder.
Set fso = CreateObject("Scripting.FileSystemObject")
Sub Save(path, text)
  Set t = fso.CreateTextFile(path, True)
  t.Write text
  t.Close
End Sub
Function Recent(d)
  Recent = TypeName(d) = "Date" And Abs(DateDiff("s", d, Now)) < 600
End Function
Sub Report(what)
  If Err.Number = 0 Then
    WScript.Echo what & ": no error"
  Else
    WScript.Echo what & ":", Err.Number, Err.Description
  End If
  Err.Clear
End Sub

Set root = fso.CreateFolder("tree")
WScript.Echo "created:", TypeName(root), root.Name, root.Type, root.IsRootFolder, root.Size, root.Files.Count, root.SubFolders.Count
Set subf = fso.CreateFolder(fso.BuildPath("tree", "sub"))
Save fso.BuildPath("tree", "b.xyz"), "hello"
Save fso.BuildPath("tree", "a.xyz"), "x,y" & vbCrLf
Save fso.BuildPath(subf.Path, "c.txt"), "1234567"
WScript.Echo "measured:", root.Size, root.Files.Count, root.SubFolders.Count, subf.Size
For Each f In root.Files
  WScript.Echo "file:", f.Name, f.Size, f.Type, TypeName(f), f.ParentFolder.Name, Recent(f.DateLastModified), Recent(f.DateCreated)
Next
For Each d In root.SubFolders
  WScript.Echo "folder:", d.Name, d.Size, d.Type, TypeName(d), d.ParentFolder.Name, d.Files.Count, Recent(d.DateLastModified)
Next
WScript.Echo "items:", root.Files("b.xyz").Size, root.SubFolders("sub").Files("c.txt").Name, root.Files.Item("a.xyz").Name
Set c = fso.GetFile(fso.BuildPath(subf.Path, "c.txt"))
WScript.Echo "get file:", TypeName(c), c.Name, c.Size, c.ParentFolder.ParentFolder.Name
WScript.Echo "paths:", root.Path = fso.GetAbsolutePathName("tree"), root.ParentFolder.Path = fso.GetAbsolutePathName("."), fso.BuildPath(root.Path, "sub") = subf.Path, root = root.Path
WScript.Echo "dots:", fso.GetAbsolutePathName(fso.BuildPath(fso.BuildPath("tree", ".."), fso.BuildPath("tree", "sub"))) = subf.Path
Set top = root
Do Until top.IsRootFolder
  Set top = top.ParentFolder
Loop
WScript.Echo "root:", top.IsRootFolder, TypeName(top.ParentFolder), top.Name = ""
n = fso.GetTempName
WScript.Echo "temp name:", Left(n, 3), Len(n), Right(n, 4), fso.FileExists(n)
Set t = fso.GetSpecialFolder(2)
WScript.Echo "temp folder:", TypeName(t), fso.FolderExists(t.Path)

fso.CopyFolder "tree", "copy"
Set cp = fso.GetFolder("copy")
WScript.Echo "copied:", cp.Size, cp.Files.Count, cp.SubFolders("sub").Files.Count
fso.CreateFolder "into"
fso.CopyFolder "tree", fso.BuildPath("into", "")
fso.CopyFile fso.BuildPath("tree", "*.xyz"), fso.BuildPath("into", "")
Set into = fso.GetFolder("into")
WScript.Echo "into:", into.Files.Count, into.SubFolders.Count, into.SubFolders("tree").Size
fso.MoveFile fso.BuildPath("copy", "a.xyz"), fso.BuildPath("copy", "moved.xyz")
WScript.Echo "moved file:", fso.FileExists(fso.BuildPath("copy", "a.xyz")), fso.GetFile(fso.BuildPath("copy", "moved.xyz")).Size
fso.MoveFolder "copy", "moved"
WScript.Echo "moved folder:", fso.FolderExists("copy"), fso.GetFolder("moved").Size
Set f = fso.GetFile(fso.BuildPath("moved", "b.xyz"))
f.Copy fso.BuildPath("moved", "d.xyz")
f.Move fso.BuildPath("moved", "e.xyz")
WScript.Echo "file methods:", f.Name, fso.FileExists(fso.BuildPath("moved", "b.xyz")), fso.GetFolder("moved").Files.Count
f.Delete
WScript.Echo "file deleted:", fso.GetFolder("moved").Files.Count
Set s = fso.GetFile(fso.BuildPath("moved", "d.xyz")).OpenAsTextStream(1)
WScript.Echo "as stream:", s.ReadAll
s.Close
fso.GetFolder("moved").Delete
WScript.Echo "folder deleted:", fso.FolderExists("moved")

On Error Resume Next
fso.CreateFolder "tree"
Report "create existing"
fso.CreateFolder fso.BuildPath("nowhere", "x")
Report "create in missing"
Set x = fso.GetFolder("nowhere")
Report "get missing folder"
Set x = fso.GetFile("nowhere.txt")
Report "get missing file"
Set x = fso.GetFile("tree")
Report "get folder as file"
fso.CopyFolder "tree", "into", False
Report "copy without overwrite"
fso.CopyFolder "tree", "into", True
Report "copy with overwrite"
fso.MoveFile fso.BuildPath("tree", "a.xyz"), fso.BuildPath("tree", "b.xyz")
Report "move onto a file"
fso.MoveFile "nowhere.txt", "x.txt"
Report "move missing"
fso.DeleteFolder "nowhere"
Report "delete missing folder"
fso.DeleteFile "nowhere.txt"
Report "delete missing file"
On Error GoTo 0

fso.DeleteFile fso.BuildPath("into", "*.xyz")
WScript.Echo "wildcard delete:", fso.GetFolder("into").Files.Count
fso.CreateFolder "moves"
fso.MoveFile fso.BuildPath("tree", "*.xyz"), fso.BuildPath("moves", "")
WScript.Echo "wildcard move:", fso.GetFolder("moves").Files.Count, fso.GetFolder("tree").Files.Count
fso.DeleteFolder "moves"
fso.DeleteFolder "into"
fso.DeleteFolder "tree", True
WScript.Echo "cleaned:", fso.FolderExists("into"), fso.FolderExists("tree"), fso.GetFolder(".").SubFolders.Count
WScript.Echo "done"
