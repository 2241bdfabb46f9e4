<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en">
<!-- QGIS's own German terms: Layoutobjekt (layout item), Kartenobjekt (map item), Atlas, Drucklayout. -->
<context>
    <name>AnchorDock</name>
    <message>
        <source>Anchor</source>
        <translation>Verankerung</translation>
    </message>
    <message>
        <source>Layout</source>
        <translation>Layout</translation>
    </message>
    <message>
        <source>First page number</source>
        <translation>Erste Seitennummer</translation>
    </message>
    <message>
        <source>The number of the atlas's first page: the page numbers the anchor rules name and that odd and even pages count from</source>
        <translation>Die Nummer der ersten Atlasseite: die Seitennummern, die die Ankerregeln nennen und von denen gerade und ungerade Seiten gezählt werden</translation>
    </message>
    <message>
        <source>Pages per atlas feature</source>
        <translation>Seiten je Atlasobjekt</translation>
    </message>
    <message>
        <source>How many pages the layout prints for every atlas feature (a map page and a notes page: 2). Odd and even pages and page lists count printed pages; with 1 they count the atlas features</source>
        <translation>Wie viele Seiten das Layout für jedes Atlasobjekt druckt (eine Kartenseite und eine Notizseite: 2). Gerade und ungerade Seiten und Seitenlisten zählen gedruckte Seiten; bei 1 zählen sie die Atlasobjekte</translation>
    </message>
    <message>
        <source>The layout has %d pages: page %d and after are numbered as the next feature's pages.</source>
        <translation>Das Layout hat %d Seiten: Seite %d und die folgenden werden wie die Seiten des nächsten Objekts nummeriert.</translation>
    </message>
    <message>
        <source>Distances in</source>
        <translation>Abstände in</translation>
    </message>
    <message>
        <source>Anchor this item</source>
        <translation>Dieses Layoutobjekt verankern</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Anwenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Select one item of the layout to see its anchoring.</source>
        <translation>Wählen Sie ein Layoutobjekt, um seine Verankerung zu sehen.</translation>
    </message>
    <message>
        <source>%d items are selected: select one to see its anchoring.</source>
        <translation>%d Layoutobjekte sind gewählt: wählen Sie eines, um seine Verankerung zu sehen.</translation>
    </message>
    <message>
        <source>This item has no ID: give it one in its properties, for anchor rules name items by ID.</source>
        <translation>Dieses Layoutobjekt hat keine Objekt-ID: geben Sie ihm eine in seinen Eigenschaften, denn Ankerregeln nennen Layoutobjekte bei ihrer ID.</translation>
    </message>
    <message>
        <source>Anchoring of “%s”</source>
        <translation>Verankerung von „%s“</translation>
    </message>
    <message>
        <source>“%s” is not anchored.</source>
        <translation>„%s“ ist nicht verankert.</translation>
    </message>
    <message>
        <source>is off the page</source>
        <translation>liegt außerhalb der Seite</translation>
    </message>
    <message>
        <source>overlaps</source>
        <translation>überlappt</translation>
    </message>
    <message>
        <source>is placed by QGIS from data</source>
        <translation>wird von QGIS aus Daten platziert</translation>
    </message>
    <message>
        <source>On this page its alternate rule places it (the Alternate Anchor tab).</source>
        <translation>Auf dieser Seite platziert es seine alternative Regel (Registerkarte Alternate Anchor).</translation>
    </message>
    <message>
        <source>No finding of the layout checks on this page.</source>
        <translation>Die Layoutprüfungen finden auf dieser Seite nichts.</translation>
    </message>
    <message>
        <source>Anchor “%s”</source>
        <translation>„%s“ verankern</translation>
    </message>
    <message>
        <source>Stored. Preview the atlas to place the item on its pages.</source>
        <translation>Gespeichert. Schalten Sie die Atlasvorschau ein, um das Layoutobjekt auf seinen Seiten zu platzieren.</translation>
    </message>
    <message>
        <source>The atlas leaves it where QGIS puts it: %s.</source>
        <translation>Der Atlas lässt es, wo QGIS es hinstellt: %s.</translation>
    </message>
</context>
</TS>
