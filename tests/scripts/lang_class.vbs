' Classes: member variables, Property Get, Let and Set, methods, Default,
' Me, Class_Initialize and Class_Terminate and the order they run in, New,
' private members, and objects passed, held in arrays and Dictionaries.
Class Account
  Private balance_
  Private log_
  Public Owner
  Dim Kind

  Private Sub Class_Initialize
    balance_ = 0
    log_ = Array("", "", "")
    Kind = "plain"
    WScript.Echo "init: Account"
  End Sub

  Private Sub Class_Terminate
    WScript.Echo "terminate: Account " & Owner
  End Sub

  Public Property Get Balance
    Balance = balance_
  End Property

  Public Property Let Balance(value)
    If value < 0 Then Exit Property
    balance_ = value
  End Property

  Public Property Get Entry(i)
    Entry = log_(i)
  End Property

  Public Property Let Entry(i, value)
    log_(i) = value
  End Property

  Public Sub Deposit(amount)
    balance_ = balance_ + amount
    Record "deposit " & amount
  End Sub

  Private Sub Record(text)
    log_(0) = text
  End Sub

  Public Function Describe()
    Describe = Me.Owner & ": " & Balance
  End Function
End Class

Set a = New Account
a.Owner = "Ann"
a.Deposit 100
a.Balance = a.Balance + 5
a.Balance = -1
WScript.Echo "balance:", a.Balance, a.Kind
WScript.Echo "describe:", a.Describe()
a.Entry(1) = "second"
WScript.Echo "entries:", a.Entry(0), a.Entry(1)
WScript.Echo "types:", TypeName(a), VarType(a), IsObject(a)

On Error Resume Next
x = a.balance_
WScript.Echo "private field:", Err.Number
Err.Clear
a.Record "x"
WScript.Echo "private sub:", Err.Number
Err.Clear
a.NoSuch
WScript.Echo "no member:", Err.Number
Err.Clear
Set z = New Nowhere
WScript.Echo "no class:", Err.Number
Err.Clear
On Error GoTo 0

' A default property with an argument, read and assigned through the object.
Class Row
  Private cells_
  Private Sub Class_Initialize
    Set cells_ = CreateObject("Scripting.Dictionary")
  End Sub
  Public Default Property Get Cell(i)
    Cell = cells_(i)
  End Property
  Public Property Let Cell(i, v)
    cells_(i) = v
  End Property
End Class
Set r = New Row
r(1) = "one"
r.Cell(2) = "two"
WScript.Echo "default:", r(1), r.Cell(2)

' A default function gives the object's value where a value is needed.
Class Money
  Public Amount
  Public Default Function Text()
    Text = FormatNumber(Amount, 2) & " EUR"
  End Function
End Class
Set m = New Money
m.Amount = 1234.5
WScript.Echo "concat: " & m

Class Holder
  Private item_
  Public Property Set Item(o)
    Set item_ = o
  End Property
  Public Property Get Item()
    Set Item = item_
  End Property
End Class
Set h = New Holder
Set h.Item = m
WScript.Echo "property set:", h.Item.Amount, h.Item Is m
Set n = Nothing
WScript.Echo "nothing:", n Is Nothing, h Is Nothing

Sub Rename(ByVal acc, newName)
  acc.Owner = newName
  Set acc = Nothing
End Sub
Rename a, "Bob"
WScript.Echo "byval:", a.Owner
Sub Replace(acc)
  Set acc = New Account
  acc.Owner = "Cy"
End Sub
Set b = a
Replace b
WScript.Echo "byref:", b.Owner, a.Owner

' Terminate runs when the last reference goes.
Set b = Nothing
WScript.Echo "after: nothing"
Set a = New Account
a.Owner = "Dee"
WScript.Echo "after: reassigned"
Sub LocalOnly()
  Dim t
  Set t = New Account
  t.Owner = "local"
  WScript.Echo "in: procedure"
End Sub
LocalOnly
WScript.Echo "after: procedure"
list = Array(New Account, New Account)
list(0).Owner = "first"
list(1).Owner = "second"
list = Empty
WScript.Echo "after: array"
Set d = CreateObject("Scripting.Dictionary")
d.Add "k", New Account
d("k").Owner = "in dictionary"
d.Remove "k"
WScript.Echo "after: remove"

' Me hands the object itself on; objects that hold each other are never
' terminated (VBScript leaks them, and so no "cycle:" line is printed).
Class Node
  Public Name
  Public Parent
  Public Function Attach(child)
    Set child.Parent = Me
    Set Attach = child
  End Function
  Private Sub Class_Terminate
    WScript.Echo "cycle: terminated " & Name
  End Sub
End Class
Set root = New Node
root.Name = "root"
Set leaf = root.Attach(New Node)
leaf.Name = "leaf"
WScript.Echo "me:", leaf.Parent.Name, leaf.Parent Is root
Set root.Parent = leaf

' A failure in Class_Initialize reaches the New; the object is not made, so
' it is not terminated either (no "broken:" line).
Class Broken
  Private Sub Class_Initialize
    Err.Raise 1005, "Broken", "cannot start"
  End Sub
  Private Sub Class_Terminate
    WScript.Echo "broken: terminated"
  End Sub
End Class
On Error Resume Next
Set k = New Broken
WScript.Echo "initialize error:", Err.Number, Err.Description, IsEmpty(k)
Err.Clear
On Error GoTo 0

' A failure in Class_Terminate ends the Terminate only; Err keeps it.
Class Noisy
  Private Sub Class_Terminate
    WScript.Echo "terminate: Noisy"
    Err.Raise 1006, "Noisy", "cannot stop"
    WScript.Echo "terminate: not reached"
  End Sub
End Class
Set q = New Noisy
Set q = Nothing
WScript.Echo "terminate error:", Err.Number, Err.Description

Set a = Nothing
WScript.Echo "done"
