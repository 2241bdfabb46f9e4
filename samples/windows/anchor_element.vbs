' Anchors the north arrow of the sample map book from a script, through the component's
' manager, in a running application that offers its layout (here the test host).
'   cscript //nologo anchor_element.vbs
Option Explicit
Dim app, layout, arrow, manager, box, page

' The script host's CreateObject: where the application cannot start, it passes the reason on
' (Err.Number and Err.Description), which the language's own CreateObject drops under Wine.
Set app = WScript.CreateObject("CRVAnchorTestHost.Application")
Set layout = app.Document.PageLayout

' The element of the layout with this name.
Function Named(name)
    Dim element
    layout.Reset
    Set element = layout.Next
    Do Until element Is Nothing
        If element.Name = name Then Set Named = element
        Set element = layout.Next
    Loop
End Function

Set arrow = Named("North Arrow")

Set manager = CreateObject("CRVAnchor.CRVAnchorManager")
WScript.Echo "North Arrow anchored: " & manager.IsAnchorElement(arrow) & ", priority " & manager.AnchorPriority(arrow)

' Where the arrow stands, in page units.
Function Where(item)
    Set box = CreateObject("CRVAnchorTestHost.Envelope")
    item.QueryBounds app.Document.ActiveView.ScreenDisplay, box
    Where = FormatNumber(box.XMin, 3) & ", " & FormatNumber(box.YMin, 3) & " to " & _
            FormatNumber(box.XMax, 3) & ", " & FormatNumber(box.YMax, 3)
End Function

WScript.Echo "Before: " & Where(arrow)
manager.SetAnchorElement arrow
' A script's variables go in by reference; the manager leaves them holding what they held.
WScript.Echo "Still the same arrow: " & (arrow Is Named("North Arrow"))
page = 1
manager.AnchorElement page
WScript.Echo "Page 1: " & Where(arrow)

' A record with a text where a point code belongs: the component reports the error itself (on
' the console, or in a message box in a windowed program) and returns.
Dim record, legend
Set legend = Named("Legend")
Set record = manager.MakeAnchorProperties()
record.SetProperty "AnchorElement", True
record.SetProperty "AnchorFromAll", "Top Left"
manager.AddAnchorProperties legend, record
manager.SetAnchorElement legend
WScript.Echo "After the report the script goes on."

' An error raised to the script: the number, source and text as the component gives them.
On Error Resume Next
arrow.QueryBounds Nothing, Nothing
WScript.Echo "Error " & Err.Number & " from " & Err.Source & ": " & Err.Description
Err.Clear
' A value of the wrong kind is refused before the component runs.
manager.AnchorPriority "North Arrow"
WScript.Echo "Error " & Err.Number & ": " & Err.Description
