// Reads and sets the test host's properties as JScript does, without parentheses: JScript asks
// for a property's value and sets it as a property, never as a call.
var app = new ActiveXObject("CRVAnchorTestHost.Application");
var layout = app.Document.PageLayout;
layout.Reset();
var element = layout.Next();
WScript.Echo("First element: " + element.Name);
var box = new ActiveXObject("CRVAnchorTestHost.Envelope");
element.QueryBounds(app.Document.ActiveView.ScreenDisplay, box);
WScript.Echo("Its bounds: " + box.XMin + ", " + box.YMin + " to " + box.XMax + ", " + box.YMax +
             " (" + box.Width + " by " + box.Height + ")");
var point = new ActiveXObject("CRVAnchorTestHost.GeometryPoint");
point.X = 1.5;
point.Y = 2;
WScript.Echo("A point set as properties: " + point.X + ", " + point.Y);
var uid = new ActiveXObject("CRVAnchorTestHost.UID");
uid.Value = "CRVAnchor.CRVAnchorManager";
WScript.Echo("An identifier: " + uid.Value);
