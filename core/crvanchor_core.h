/* The portable anchoring core: the engine, the book's selection, order, checks and report, over
 * a mirror of a host's layout, behind a C interface that links no UI toolkit and no GIS
 * library. A host (a QGIS plugin in Python, any program that can call C) describes its layout
 * once, then asks for each page and applies the moves it gets back.
 *
 * Rules of the whole interface:
 * - Plain C types and opaque handles only; every text is UTF-8, in and out.
 * - Every function that can fail returns a crv_status; on anything but CRV_OK,
 *   crv_last_error() gives one line saying what went wrong, for the calling thread.
 * - Text the core returns is the caller's, to be released with crv_free().
 * - Nothing is printed and no window is shown: the engine's error reports come back as values.
 * - No exception and no C++ type crosses this interface.
 * - A mirror is used from the thread that opened it; one mirror is open at a time in a process,
 *   because the engine creates the mirror's objects through the process's class table.
 */
#ifndef CRVANCHOR_CORE_H
#define CRVANCHOR_CORE_H

#include <stdint.h>

#ifdef _WIN32
#  ifdef CRV_CORE_BUILDING
#    define CRV_CORE_API __declspec(dllexport)
#  else
#    define CRV_CORE_API __declspec(dllimport)
#  endif
#else
#  define CRV_CORE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this interface. A host checks crv_core_version() against the version it was
 * written for and refuses a core of another: a function's meaning never changes within one. */
#define CRV_CORE_VERSION 3

typedef enum crv_status {
    CRV_OK = 0,
    CRV_REFUSED = 1, /* the input was refused (a bad description, an unknown element, ...) */
    CRV_FAILED = 2   /* the work failed (a file that cannot be written, no memory, ...) */
} crv_status;

/* A layout mirrored for the engine: its elements, their records and map series, and the book
 * over it. */
typedef struct crv_mirror crv_mirror;

/* The version of the interface this core implements (CRV_CORE_VERSION). Never fails. */
CRV_CORE_API int32_t crv_core_version(void);

/* The message of the calling thread's last failure, one line; "" when nothing failed. Stays
 * valid until that thread's next call. Never fails. */
CRV_CORE_API const char* crv_last_error(void);

/* Releases text the core returned. Accepts NULL. Never fails. */
CRV_CORE_API void crv_free(char* text);

/* Mirrors a layout from its description, JSON text (docs/core-interface.md): the page, the
 * elements with their kinds, names, rectangles (or outlines), layout pages, members, text, custom
 * property (the anchor record as stored) and map series, and the multi-page layout in force. Selects the anchored
 * elements and orders them, as the book does. `name` names the layout in messages and in the
 * report. CRV_REFUSED for a description that does not read or a second open mirror; nothing is
 * kept then and *mirror is NULL. */
CRV_CORE_API crv_status crv_mirror_open(const char* description, const char* name, crv_mirror** mirror);

/* Ends the mirror and releases everything it holds, its open form and the report too
 * (unfinished, it is not written). Accepts NULL. Never fails. */
CRV_CORE_API void crv_mirror_close(crv_mirror* mirror);

/* The book's first and last page numbers: the first map frame's enabled map series, or the single
 * page 1. *last is *first - 1 when the series has no feature. Changes nothing. */
CRV_CORE_API crv_status crv_mirror_pages(const crv_mirror* mirror, int32_t* first, int32_t* last);

/* The pages a text such as "1-3,7" names, as the map-book command's --pages reads it (blanks
 * allowed, each page once, in order), checked against the book's pages, as JSON text:
 * {"pages": [PAGE...]}. An empty text names every page. CRV_REFUSED, with the command's own
 * line, for a text that does not read or a page outside the book. Changes nothing. */
CRV_CORE_API crv_status crv_mirror_parse_pages(const crv_mirror* mirror, const char* text, char** pages_json);

/* What the selection said, as JSON text: {"anchor_order": [NAME...], "left_out": [{"element",
 * "reason"}...], "notes": [TEXT...], "error_reports": [REPORT...]} (REPORT as in
 * crv_mirror_place_page). Changes nothing. */
CRV_CORE_API crv_status crv_mirror_selection(const crv_mirror* mirror, char** selection_json);

/* What the map-book command's `show` lists, as JSON text: {"elements": [{"element", "depth" (0 at
 * the top, 1 inside a group, ...), "summary" (the anchor record in one line; "" for none)}...] in
 * the layout's order, each group followed by its members, "cycles": [LINE...] (each element in a
 * cycle of anchors, which the book leaves where it stands)}. Changes nothing. */
CRV_CORE_API crv_status crv_mirror_show(const crv_mirror* mirror, char** show_json);

/* What the map-book command's --outline draws of page `page`, which must be the page placed last:
 * each anchored element's rectangle and the arrow of its rule, in pixels of a picture of
 * `pixels_per_unit` pixels a page unit and a layout page `page_height` units high (x right, y
 * down), as JSON text: {"rgb": [R, G, B], "outlines": [{"element", "layout_page", "box": [X, Y,
 * WIDTH, HEIGHT], "pen" (every line's width), "line": [[X, Y], [X, Y]] or null, "dashed" (the
 * line of an alternate rule), "head": three points of a filled arrow head or null, "dot": [[X, Y],
 * RADIUS] or null, "alternate" (the element's alternate rule places it on the page, whatever is
 * drawn)}...]} in the book's order. Changes nothing. */
CRV_CORE_API crv_status crv_mirror_outlines(const crv_mirror* mirror, int32_t page, double pixels_per_unit,
                                            double page_height, char** outlines_json);

/* Tells the mirror that the host moved or resized an element itself (a legend fitted to its
 * contents): its own rectangle, without its frame (as the description's "rect"), is now the one
 * given, in page units; moves report it with its frame.
 * A group is moved by its lower left corner, its members with it (its size is theirs); an element
 * described by its outline becomes the rectangle given. CRV_REFUSED when no element has that
 * name or the rectangle is not finite with xmin <= xmax and ymin <= ymax; nothing changes then. */
CRV_CORE_API crv_status crv_mirror_set_rect(crv_mirror* mirror, const char* element, double xmin, double ymin,
                                            double xmax, double ymax);

/* Gives the feature of page `page` of a map frame's series (`frame` its name, or NULL for the
 * book's series, the first map frame's): its values as JSON text, an array of values tagged as in
 * the description, one for each of the series' fields in order. A host whose description gives
 * "page_count" instead of every page's values gives each page's feature this way before placing
 * it (the mirror keeps the last feature given alone, so that a book of any length holds one:
 * a page placed again needs its feature again); a host may also change a page's values this way. CRV_REFUSED for an unknown frame, a frame
 * without a series, a page outside it, or values that do not read or are not one for each field;
 * nothing changes then. */
CRV_CORE_API crv_status crv_mirror_set_feature(crv_mirror* mirror, const char* frame, int32_t page,
                                               const char* values_json);

/* Puts page `page` in force, places every anchored element for it in the book's order, and
 * checks it (off the page; with `check_overlap`, overlaps). Returns JSON text:
 * {"page": N, "moves": [{"element", "rect": [XMIN, YMIN, XMAX, YMAX], "layout_page"}...] (every
 * element whose rectangle changed since the mirror last gave or was told it, enclosing groups
 * included, in layout order; the rectangle on the layout page the element stands on), "record":
 * PAGE (the page as the report holds it), "error_reports": [{"number", "title", "text"}...] (the
 * engine's reports during the call, with their call-stack lines)}. CRV_REFUSED for a page outside
 * crv_mirror_pages(), or one whose feature was not given yet (crv_mirror_set_feature). Never
 * draws. */
CRV_CORE_API crv_status crv_mirror_place_page(crv_mirror* mirror, int32_t page, int32_t check_overlap,
                                              char** result_json);

/* Edits the anchor record of the element named `element` with `count` texts "KEY=VALUE" (the keys
 * of docs/record-keys.md, values as the map-book command's `anchor` takes them), giving the
 * element a default record first when it has none, and chooses the anchored elements again.
 * Returns JSON text: {"outcome": "created", "changed" or "reported" (the engine reported why it
 * could not; nothing written), "message": what was done, in one line, "cycle": "" or the line
 * saying the record puts its element in a cycle of anchors, "custom": the element's custom
 * property as the description tags it (what the host stores back), "error_reports": [...]}.
 * CRV_REFUSED, naming the key and its allowed values, for a change that cannot be written (an
 * unknown key, a value out of range, an element or field name the layout lacks), and for an
 * element no element is named; nothing is written then. Refused while a report is written. */
CRV_CORE_API crv_status crv_mirror_edit_record(crv_mirror* mirror, const char* element, const char* const* changes,
                                               int32_t count, char** result_json);

/* Starts the book's report at `path`, written as the pages are placed and put in place whole by
 * crv_mirror_finish_report(); the same report as the map-book command's. CRV_FAILED when the file
 * cannot be created. */
CRV_CORE_API crv_status crv_mirror_start_report(crv_mirror* mirror, const char* path);

/* Ends the report with the count of error reports of the whole book and replaces the file at its
 * path. CRV_FAILED when it cannot be written, and the former file stays as it was. */
CRV_CORE_API crv_status crv_mirror_finish_report(crv_mirror* mirror);

/* ---------------------------------------------------------------- records as a host stores them
 *
 * A layout item keeps its custom value, the anchor record inside it, as text properties: one
 * per value ("crvanchor/CorvaneProperties/AnchorProperties/HDistanceAll" = "string:0.25"), or
 * one compact property ("crvanchor" = "json:{...}"). docs/record-keys.md describes both. */

/* Reads an item's custom value from its properties, JSON text: an object of every property's
 * name and text (those of other tools are left alone). Returns JSON text: {"form": "none",
 * "properties" or "compact", "custom": the value tagged as the description tags it}. Either form
 * reads the same value. CRV_REFUSED, naming the property and why, for a property of ours that is
 * not text, a compact text that does not read, or bags nested more than 64 deep. */
CRV_CORE_API crv_status crv_record_read(const char* properties_json, char** record_json);

/* The properties that store a custom value (tagged as the description tags it, as
 * crv_mirror_edit_record and crv_form_apply give it), one per value or, with `compact`, one.
 * Returns JSON text: {"properties": {NAME: TEXT...}}; a host removes every property named
 * "crvanchor" or starting "crvanchor/" from the item, then sets these. CRV_REFUSED for a value
 * that does not read, naming where in it. */
CRV_CORE_API crv_status crv_record_write(const char* custom_json, int32_t compact, char** properties_json);

/* What is wrong with the PDF at `path` (UTF-8), as the map-book command checks the PDF it wrote
 * before it replaces the former one: a writer that does not see a full disk reports success over
 * a file cut short. Gives "" when the PDF is whole (its header, its end, its cross-reference
 * offset, every object its table lists where the table says), else one line saying what is
 * wrong; the file is read a block at a time. */
CRV_CORE_API crv_status crv_pdf_defect(const char* path, char** defect);

/* ---------------------------------------------------------------- the anchor form
 *
 * The anchor property page's form, its controls the host's own: the core runs the form's logic
 * (what each edit enables, fills and stores) and tells the host what to show through callbacks;
 * the host reports the user's edits back. The host builds its widgets from the description. */

/* A form open over one element of a mirror. */
typedef struct crv_form crv_form;

/* What the form asks of the host's controls, each named by its id in the description
 * ("chkAnchor", "OptAnchorTo_1", ...). They are the form's own changes: a host shows them
 * without reporting them back as the user's edits. A callback must not call the core. */
typedef struct crv_form_callbacks {
    void* context; /* given back as every callback's first argument */
    /* A text box's text. */
    void (*set_text)(void* context, const char* control, const char* text);
    /* A check box's state (0 clear, 1 checked, 2 greyed), an option button's (0 off, 1 on), a
     * list's chosen entry (-1 none), or the tab strip's current tab. */
    void (*set_value)(void* context, const char* control, int32_t value);
    /* Empties a list, which then has no entry chosen. */
    void (*clear_list)(void* context, const char* control);
    /* Adds an entry at a list's end; the choice stays as it was. */
    void (*add_entry)(void* context, const char* control, const char* text);
    /* Whether a control (or, with `control` the tab strip's id and tab >= 0, one of its tabs)
     * takes the user's input; tab is -1 for a control. */
    void (*set_enabled)(void* context, const char* control, int32_t tab, int32_t on);
    /* Whether a control is shown. */
    void (*set_visible)(void* context, const char* control, int32_t on);
} crv_form_callbacks;

/* The form's description, JSON text: {"title", "note" (the line under the title), "tab_strip"
 * (the tab strip's id, which set_value and set_enabled name for its tabs), "tabs": [{"id",
 * "label", "items": [ITEM...]}...]}
 * with ITEM {"id", "kind", "label"} ("kind" one of "label", "check", "option", "list", "dropdown",
 * "text", "button"; an option's "array" and "index" too) or a group {"id", "kind": "group",
 * "label", "items": [ITEM...]}, in the order the form lays them out. The same for every form;
 * opens nothing. */
CRV_CORE_API crv_status crv_form_description(char** description_json);

/* Opens the form over the anchor record of the element named `element` and fills the host's
 * controls through `callbacks` (copied; every member must be set) before it returns. The form
 * edits a copy of the record: nothing is stored before crv_form_apply(). CRV_REFUSED when no
 * element has that name, when the element has no anchor record (crv_mirror_edit_record with no
 * change gives it one), or when a form is open already; *form is NULL then. */
CRV_CORE_API crv_status crv_form_open(crv_mirror* mirror, const char* element, const crv_form_callbacks* callbacks,
                                      crv_form** form);

/* Ends the form; what was not applied is dropped. Accepts NULL. Never fails. */
CRV_CORE_API void crv_form_close(crv_form* form);

/* The user typed in a text box: its whole text now. Returns the engine's error reports during
 * the edit as JSON text, [{"number", "title", "text"}...], usually []. CRV_REFUSED for an id that
 * is not a text box, or one that is not enabled; nothing changes then. */
CRV_CORE_API crv_status crv_form_user_text(crv_form* form, const char* control, const char* text,
                                           char** reports_json);

/* The user clicked or chose: a check box's new state (0-2), an option button turned on (1), a
 * list's chosen entry, a button clicked (any value), or the tab shown. Returns the error reports
 * as crv_form_user_text() does. CRV_REFUSED for an unknown id, a control that is not enabled,
 * or a value the control cannot take; nothing changes then. */
CRV_CORE_API crv_status crv_form_user_value(crv_form* form, const char* control, int32_t value,
                                            char** reports_json);

/* What every control shows, as JSON text: {"dirty": whether there is anything to apply, "tabs":
 * {"current", "enabled": [...]}, "controls": {ID: {"enabled", "visible", and "value", "text" or
 * "entries" and "index"}}}. Changes nothing. */
CRV_CORE_API crv_status crv_form_state(const crv_form* form, char** state_json);

/* Stores the edited record in the element and places it for the page in force (the page last
 * placed, else the one the description has), as the page's Apply does. Returns JSON text: {"moves": as
 * crv_mirror_place_page gives them, "custom": the element's custom property as the description
 * tags it (what the host stores back), "error_reports": [...]}. The anchored elements are chosen
 * again. Refused while a report is written. */
CRV_CORE_API crv_status crv_form_apply(crv_form* form, char** result_json);

#ifdef __cplusplus
}
#endif

#endif /* CRVANCHOR_CORE_H */
