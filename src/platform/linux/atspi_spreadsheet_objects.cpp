// What a spreadsheet's objects are: the editor of a cell being edited, the sheet of a cell.
#include "platform/linux/atspi_calls.h"

namespace tavrolin::atspi {

namespace {

// The parent of `object`, with a new reference; null when it has none or the call fails.
GObjectRef<AtspiAccessible> parentOf(AtspiAccessible* object) {
    CallError error;
    GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(object, error.out()));
    return error.failed() ? GObjectRef<AtspiAccessible>() : std::move(parent);
}

bool isInSpreadsheetDocument(AtspiAccessible* object) {
    const GObjectRef<AtspiAccessible> document = parentOf(object);
    return document && roleOf(document.get()) == ATSPI_ROLE_DOCUMENT_SPREADSHEET;
}

}  // namespace

// LibreOffice Calc edits a cell (F2, or typing into it) in an editor object that it places in the
// spreadsheet document beside the sheet's table, one paragraph for each line of the cell. The
// editor of such a paragraph, with a new reference; null for any other object.
AtspiAccessible* cellEditorOf(AtspiAccessible* object) {
    if (roleOf(object) != ATSPI_ROLE_PARAGRAPH) {
        return nullptr;
    }
    GObjectRef<AtspiAccessible> editor = parentOf(object);
    if (!editor || roleOf(editor.get()) == ATSPI_ROLE_TABLE_CELL || !isEditableObject(editor.get()) ||
        !isInSpreadsheetDocument(editor.get())) {
        return nullptr;
    }
    return editor.release();
}

// The sheet (a table whose parent is a spreadsheet document) that is `object` or holds the cell
// `object`, with a new reference; null otherwise.
AtspiAccessible* sheetOf(AtspiAccessible* object) {
    const AtspiRole role = roleOf(object);
    if (role != ATSPI_ROLE_TABLE && role != ATSPI_ROLE_TABLE_CELL) {
        return nullptr;
    }
    GObjectRef<AtspiAccessible> table;
    if (role == ATSPI_ROLE_TABLE) {
        table.ptr = static_cast<AtspiAccessible*>(g_object_ref(object));
    } else {
        table = parentOf(object);
        if (!table || roleOf(table.get()) != ATSPI_ROLE_TABLE) {
            return nullptr;
        }
    }
    return isInSpreadsheetDocument(table.get()) ? table.release() : nullptr;
}

}  // namespace tavrolin::atspi
