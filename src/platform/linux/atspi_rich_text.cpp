// The text of a rich-text field with the objects embedded in it (links, spans, blocks, pictures)
// and, for web engines, the pictures that publish no object, told by the room between characters.
#include "platform/linux/atspi_calls.h"
#include "platform/linux/character_box_gaps.h"

#include <QRegularExpression>

#include <algorithm>
#include <atspi/atspi.h>
#include <chrono>
#include <map>
#include <vector>

namespace tavrolin::atspi {

namespace {

// Objects embedded in a text are read this deep and this many per read: a rich-text field holds
// links and spans, and a block for each line typed (Firefox and Chromium answer for 60 blocks in
// under 0.1 s); each object costs several calls. A list nested in an item takes two levels (the
// list, its item): eight reach a link in an item of a list three levels deep. One past either
// bound is left out, and counts as an object that could not be read.
constexpr int kMaximumEmbeddingDepth = 8;
constexpr int kMaximumEmbeddedObjects = 128;

constexpr QChar objectReplacementCharacter(0xFFFC);

// Objects that show something other than text (pictures, controls, frames): whatever text
// they offer is a name or a label, not words of the text around them. Absent when the role could
// not be read.
std::optional<bool> showsOtherThanText(AtspiAccessible* object) {
    CallError error;
    const AtspiRole role = atspi_accessible_get_role(object, error.out());
    if (error.failed()) {
        return std::nullopt;
    }
    switch (role) {
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_ANIMATION:
    case ATSPI_ROLE_VIDEO:
    case ATSPI_ROLE_AUDIO:
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_COMBO_BOX:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON:
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_SCROLL_BAR:
    case ATSPI_ROLE_EMBEDDED:
    case ATSPI_ROLE_INTERNAL_FRAME:
        return true;
    default:
        return false;
    }
}

// Web engines lay a paragraph or a block of a rich-text field out on lines of its own, and say
// so in the object's "display" attribute, as CSS does. An object asked before its engine has its
// attributes (Firefox, for the first paragraph of a text the page has just put in, and for the
// paragraphs of the first rich field read after it started) tells it by its role: a section is a
// <div>, which pages lay out as a block (Firefox makes one of each line typed in a rich field).
bool isBlock(AtspiAccessible* object) {
    CallError error;
    GHashTable* attributes = atspi_accessible_get_attributes(object, error.out());
    const auto* display = attributes ? static_cast<const gchar*>(g_hash_table_lookup(attributes, "display")) : nullptr;
    bool block = false;
    if (display) {
        block = !g_str_has_prefix(display, "inline") && g_strcmp0(display, "contents") != 0 &&
                g_strcmp0(display, "none") != 0;
    } else {
        CallError roleError;
        const AtspiRole role = atspi_accessible_get_role(object, roleError.out());
        block = !roleError.failed() &&
                (role == ATSPI_ROLE_PARAGRAPH || role == ATSPI_ROLE_HEADING || role == ATSPI_ROLE_LIST_ITEM ||
                 role == ATSPI_ROLE_BLOCK_QUOTE || role == ATSPI_ROLE_SECTION);
    }
    if (attributes) {
        g_hash_table_unref(attributes);
    }
    return block;
}

// The marker ("• ", "1. ") at the start of a list item's text, in UTF-16 units of `field`; 0 when
// the object is no list item or shows none. Chromium publishes the marker as a first child of its
// own (tagged "::marker"); Firefox only in the item's text, where it stands as its list style
// draws it: a bullet, or a number, a letter or a roman numeral with its full stop, then a space.
qsizetype listMarkerLength(AtspiAccessible* object, const FieldText& field) {
    CallError roleError;
    if (atspi_accessible_get_role(object, roleError.out()) != ATSPI_ROLE_LIST_ITEM || roleError.failed()) {
        return 0;
    }
    CallError childError;
    GObjectRef<AtspiAccessible> first(atspi_accessible_get_child_at_index(object, 0, childError.out()));
    if (!childError.failed() && first) {
        CallError attributesError;
        GHashTable* attributes = atspi_accessible_get_attributes(first.get(), attributesError.out());
        bool marker = false;
        if (attributes) {
            marker = g_strcmp0(static_cast<const gchar*>(g_hash_table_lookup(attributes, "tag")), "::marker") == 0;
            g_hash_table_unref(attributes);
        }
        if (marker) {
            GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(first.get()));
            const std::optional<QString> shown = text ? wholeText(text.get()) : std::nullopt;
            return shown && !shown->isEmpty() && field.whole.startsWith(*shown) ? shown->size() : 0;
        }
    }
    if (toolkitOf(object) != "Gecko") {
        return 0;
    }
    static const QRegularExpression drawn(
        QStringLiteral("^(?:[\\x{2022}\\x{25E6}\\x{25AA}\\x{25AB}\\x{25A0}\\x{25A1}\\x{25CF}\\x{25CB}\\x{2023}\\x{2043}"
                       "\\x{2013}\\x{2014}]|[0-9]{1,9}[.)]|[a-zA-Z][.)]|[ivxlcdmIVXLCDM]{1,8}[.)]) "));
    const QRegularExpressionMatch match = drawn.match(field.whole);
    return match.hasMatch() ? match.capturedLength() : 0;
}

// Characters measured per read of a rich-text field, in all of its objects together, and the time
// they may take: a picture that publishes no object shows only in the room it takes between
// characters, one call per character (web engines answer 5 000 to 14 000 a second), and the
// read they belong to has a bound of its own (reportedFieldTextBound).
constexpr int kMaximumMeasuredCharacters = 2000;
constexpr std::chrono::milliseconds kMeasuringTime{300};

// What is left of that budget in one read (a read measuring longer has `scale` times as much),
// and whether it ran out before the end of a text.
struct Measuring {
    explicit Measuring(int scale)
        : characters(kMaximumMeasuredCharacters * scale), deadline(SteadyClock::now() + kMeasuringTime * scale) {}
    int characters;
    SteadyClock::time_point deadline;
    bool cutShort = false;
};

// What one read found and could not see: the budget of objects read, and how many of them could
// not be read (AccessibleRichText::unreadObjects).
struct ObjectReading {
    int budget = kMaximumEmbeddedObjects;
    int unread = 0;
};

// An editable region of a web page (not an entry: its text holds no pictures), where the engines
// lay out pictures without alternative text and publish no object for them.
bool mayHoldUnpublishedPictures(AtspiAccessible* object) {
    const QByteArray toolkit = toolkitOf(object);
    if (toolkit != "Gecko" && toolkit != "Chromium") {
        return false;
    }
    CallError error;
    switch (atspi_accessible_get_role(object, error.out())) {
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
        return !error.failed() && isEditableObject(object);
    default:
        return false;
    }
}

std::optional<QRectF> characterBox(AtspiText* text, gint index) {
    CallError error;
    GMemory<AtspiRect> rect(atspi_text_get_character_extents(text, index, ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed() || !rect || rect->width <= 0 || rect->height <= 0) {
        return std::nullopt;
    }
    return QRectF(rect->x, rect->y, rect->width, rect->height);
}

// An object's box on screen (in the device pixels of its characters' boxes); absent when it takes
// no room.
std::optional<QRectF> objectBox(AtspiAccessible* object) {
    GObjectRef<AtspiComponent> component(atspi_accessible_get_component_iface(object));
    if (!component) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRect> rect(atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed() || !rect || rect->width <= 1 || rect->height <= 1) {
        return std::nullopt;
    }
    return QRectF(rect->x, rect->y, rect->width, rect->height);
}

// The box around an embedded object's text (all of its lines).
std::optional<QRectF> textBox(AtspiText* text, const FieldText& field) {
    if (field.whole.isEmpty()) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRect> rect(atspi_text_get_range_extents(text, 0, field.fromUtf16(field.whole.size()),
                                                         ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed() || !rect || rect->width <= 0 || rect->height <= 0) {
        return std::nullopt;
    }
    return QRectF(rect->x, rect->y, rect->width, rect->height);
}

// The boxes of the texts of the objects embedded in a text, by the offsets of their U+FFFC.
using EmbeddedTextBoxes = std::map<qsizetype, QRectF>;

// Where a web engine's text shows room without characters (AccessibleRichText::unpublishedObjects).
std::vector<qsizetype> unpublishedObjectsIn(AtspiAccessible* object, AtspiText* text, const FieldText& field,
                                            const EmbeddedTextBoxes& embedded, Measuring& measuring) {
    const auto boxOf = [&](qsizetype offset) { return characterBox(text, field.fromUtf16(offset)); };
    const auto answering = [&] { return !callRanOutOfTime && SteadyClock::now() < measuring.deadline; };
    bool cutShort = false;
    std::vector<qsizetype> found = measureRoomWithoutCharacters({field.whole, embedded, objectBox(object)}, boxOf,
                                                                answering, measuring.characters, &cutShort);
    measuring.cutShort = measuring.cutShort || cutShort;
    return found;
}

// `measured`: what is left to measure for unpublished objects, and `boxes` the boxes of the
// objects' texts found then; null: none are looked for.
std::vector<AccessibleEmbeddedObject> embeddedObjects(AtspiAccessible* object, const FieldText& field, int depth,
                                                      ObjectReading& reading, Measuring* measured,
                                                      EmbeddedTextBoxes* boxes);

// The address of the link `child` is (its hyperlink `link`); absent when it is no link. A link
// whose address cannot be read is a link all the same.
std::optional<QString> linkAddress(AtspiHyperlink* link, AtspiAccessible* child) {
    CallError roleError;
    if (atspi_accessible_get_role(child, roleError.out()) != ATSPI_ROLE_LINK || roleError.failed()) {
        return std::nullopt;
    }
    CallError uriError;
    GMemory<gchar> uri(atspi_hyperlink_get_uri(link, 0, uriError.out()));
    return uriError.failed() || !uri ? QString() : QString::fromUtf8(uri.get());
}

// The object a text names at the U+FFFC at `offset` (the application's offsets); absent when it
// names none there, or when a call failed (`unread` then says so).
std::optional<AccessibleEmbeddedObject> embeddedObjectAt(AtspiHypertext* hypertext, gint offset, int depth,
                                                         ObjectReading& reading, Measuring* measured,
                                                         std::optional<QRectF>* box, bool& unread) {
    unread = false;
    CallError indexError;
    const gint index = atspi_hypertext_get_link_index(hypertext, offset, indexError.out());
    if (indexError.failed() || index < 0) {
        // A web engine busy laying its text out anew may name no object at a U+FFFC for a moment.
        unread = true;
        return std::nullopt;
    }
    CallError linkError;
    GObjectRef<AtspiHyperlink> link(atspi_hypertext_get_link(hypertext, index, linkError.out()));
    if (linkError.failed() || !link) {
        unread = true;
        return std::nullopt;
    }
    // A link of a plain text (a label's) spans its own words: only an object standing in the
    // text's place at the marker is embedded there.
    CallError startError;
    const gint start = atspi_hyperlink_get_start_index(link.get(), startError.out());
    if (startError.failed() || start != offset) {
        unread = startError.failed();
        return std::nullopt;
    }
    CallError objectError;
    GObjectRef<AtspiAccessible> child(atspi_hyperlink_get_object(link.get(), 0, objectError.out()));
    const std::optional<bool> otherThanText =
        objectError.failed() || !child ? std::nullopt : showsOtherThanText(child.get());
    if (!otherThanText) {
        unread = true;
        return std::nullopt;
    }
    AccessibleEmbeddedObject embedded;
    if (*otherThanText) {
        return embedded;
    }
    embedded.link = linkAddress(link.get(), child.get());
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(child.get()));
    if (!text) {
        return embedded;  // shows no text at all
    }
    const std::optional<FieldText> own = readFieldText(text.get());
    if (!own) {
        unread = true;
        return std::nullopt;
    }
    embedded.text = own->whole;
    embedded.block = isBlock(child.get());
    embedded.marker = listMarkerLength(child.get(), *own);
    embedded.selection = selectionOrCaret(text.get(), *own);
    EmbeddedTextBoxes boxes;
    embedded.objects = embeddedObjects(child.get(), *own, depth + 1, reading, measured, measured ? &boxes : nullptr);
    if (measured && own->whole.isEmpty() && objectBox(child.get())) {
        // A block without any character that still takes room holds something without text (a
        // picture on a line of its own).
        embedded.unpublishedObjects = {0};
    } else if (measured) {
        embedded.unpublishedObjects = unpublishedObjectsIn(child.get(), text.get(), *own, boxes, *measured);
        // Chromium gives no range extents for a link's words in a list item nested in another:
        // the object's own box is their room then.
        *box = textBox(text.get(), *own);
        if (!*box) {
            *box = objectBox(child.get());
        }
    }
    return embedded;
}

// The objects an object's text (`field`) names at its U+FFFC characters.
std::vector<AccessibleEmbeddedObject> embeddedObjects(AtspiAccessible* object, const FieldText& field, int depth,
                                                      ObjectReading& reading, Measuring* measured,
                                                      EmbeddedTextBoxes* boxes) {
    std::vector<AccessibleEmbeddedObject> objects;
    if (depth >= kMaximumEmbeddingDepth || !field.whole.contains(objectReplacementCharacter)) {
        return objects;
    }
    GObjectRef<AtspiHypertext> hypertext(atspi_accessible_get_hypertext_iface(object));
    if (!hypertext) {
        return objects;
    }
    for (qsizetype i = 0; i < field.whole.size(); ++i) {
        if (field.whole.at(i) != objectReplacementCharacter) {
            continue;
        }
        // An application that stopped answering is not asked about the rest, which it may well
        // show the next time.
        if (callRanOutOfTime) {
            reading.unread += static_cast<int>(field.whole.mid(i).count(objectReplacementCharacter));
            break;
        }
        if (reading.budget <= 0) {
            break;
        }
        --reading.budget;
        std::optional<QRectF> box;
        bool unread = false;
        std::optional<AccessibleEmbeddedObject> embedded =
            embeddedObjectAt(hypertext.get(), field.fromUtf16(i), depth, reading, measured, &box, unread);
        if (unread && !callRanOutOfTime) {
            // A call that failed at once (an object its program was laying out anew) is asked
            // once more.
            box.reset();
            embedded = embeddedObjectAt(hypertext.get(), field.fromUtf16(i), depth, reading, measured, &box, unread);
        }
        reading.unread += unread ? 1 : 0;
        if (embedded) {
            embedded->offset = i;
            if (box && boxes) {
                boxes->emplace(i, *box);
            }
            objects.push_back(std::move(*embedded));
        }
    }
    return objects;
}

}  // namespace

std::optional<AccessibleRichText> richTextOf(AtspiAccessible* object, int measuringScale) {
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    // The objects' offsets are converted with the same read of the text that holds them.
    std::optional<FieldText> field = readFieldText(text.get());
    if (!field) {
        return std::nullopt;
    }
    ObjectReading reading;
    Measuring measured(std::max(1, measuringScale));
    Measuring* measuring = mayHoldUnpublishedPictures(object) ? &measured : nullptr;
    EmbeddedTextBoxes boxes;
    std::vector<AccessibleEmbeddedObject> objects =
        embeddedObjects(object, *field, 0, reading, measuring, measuring ? &boxes : nullptr);
    std::vector<qsizetype> unpublished;
    if (measuring) {
        unpublished = unpublishedObjectsIn(object, text.get(), *field, boxes, measured);
    }
    AccessibleRichText rich{std::move(field->whole), std::move(objects), std::move(unpublished)};
    rich.unreadObjects = reading.unread;
    rich.unmeasured = measured.cutShort;
    return rich;
}

}  // namespace tavrolin::atspi
