#!/usr/bin/python3
"""Strict structural check of an .xlsx package, for every workbook the tests write.

Looks for what makes Excel offer a repair, or open a workbook other than it was written: the
zip (CRCs, local headers, ZIP64 only where needed), content types for every part,
relationships that resolve, the workbook's sheets and names, styles and shared strings with
their indexes, each worksheet's element order, rows, cells, numbers, columns, panes and
merges, comments with their drawing, document properties, and the XML of every part
(well-formed, UTF-8, no DOCTYPE). Standard library only.

    xlsx_check.py FILE...            one line per fault, "FILE: part: what"; exit 1 on any
                                     fault, 0 when there is none, 2 on a usage error

    import xlsx_check
    faults = xlsx_check.check_package(path)   # list of "part: what" lines, empty when sound

Worksheets are read as a stream, so results of a million rows are checked in bounded memory.
"""
import math
import posixpath
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import xml.parsers.expat
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
RELATIONSHIPS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PACKAGE_RELATIONSHIPS = "http://schemas.openxmlformats.org/package/2006/relationships"
CONTENT_TYPES = "http://schemas.openxmlformats.org/package/2006/content-types"
CORE_PROPERTIES = "http://schemas.openxmlformats.org/package/2006/metadata/core-properties"
EXTENDED_PROPERTIES = "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"
DOC_PROPS_TYPES = "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"
DUBLIN_CORE_TERMS = "http://purl.org/dc/terms/"
SCHEMA_INSTANCE = "http://www.w3.org/2001/XMLSchema-instance"
VML_EXCEL = "urn:schemas-microsoft-com:office:excel"
XML_NAMESPACE = "http://www.w3.org/XML/1998/namespace"

MAX_ROWS = 1048576
MAX_COLUMNS = 16384
MAX_CELL_TEXT = 32767
MAX_COLUMN_WIDTH = 255
MAX_ROW_HEIGHT = 409
MAX_CELL_FORMATS = 65430
FIRST_CUSTOM_FORMAT = 164
# At most this many lines of one kind per part; the rest are counted.
SHOWN_PER_KIND = 20

OFFICE_TYPES = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
TYPE_OFFICE_DOCUMENT = OFFICE_TYPES + "officeDocument"
TYPE_WORKSHEET = OFFICE_TYPES + "worksheet"
TYPE_STYLES = OFFICE_TYPES + "styles"
TYPE_SHARED_STRINGS = OFFICE_TYPES + "sharedStrings"
TYPE_COMMENTS = OFFICE_TYPES + "comments"
TYPE_VML_DRAWING = OFFICE_TYPES + "vmlDrawing"
TYPE_HYPERLINK = OFFICE_TYPES + "hyperlink"
TYPE_CORE = "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties"
TYPE_EXTENDED = OFFICE_TYPES + "extended-properties"

SPREADSHEET_TYPES = "application/vnd.openxmlformats-officedocument.spreadsheetml."
CONTENT_TYPE_OF_RELATIONSHIP = {
    TYPE_OFFICE_DOCUMENT: SPREADSHEET_TYPES + "sheet.main+xml",
    TYPE_WORKSHEET: SPREADSHEET_TYPES + "worksheet+xml",
    TYPE_STYLES: SPREADSHEET_TYPES + "styles+xml",
    TYPE_SHARED_STRINGS: SPREADSHEET_TYPES + "sharedStrings+xml",
    TYPE_COMMENTS: SPREADSHEET_TYPES + "comments+xml",
    TYPE_VML_DRAWING: "application/vnd.openxmlformats-officedocument.vmlDrawing",
    OFFICE_TYPES + "theme": "application/vnd.openxmlformats-officedocument.theme+xml",
    OFFICE_TYPES + "drawing": "application/vnd.openxmlformats-officedocument.drawing+xml",
    OFFICE_TYPES + "custom-properties": "application/vnd.openxmlformats-officedocument.custom-properties+xml",
    TYPE_CORE: "application/vnd.openxmlformats-package.core-properties+xml",
    TYPE_EXTENDED: "application/vnd.openxmlformats-officedocument.extended-properties+xml",
}
RELATIONSHIPS_CONTENT_TYPE = "application/vnd.openxmlformats-package.relationships+xml"

# The order of a worksheet's children (CT_Worksheet); the ones that may repeat.
WORKSHEET_ORDER = [
    "sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr",
    "sheetProtection", "protectedRanges", "scenarios", "autoFilter", "sortState", "dataConsolidate",
    "customSheetViews", "mergeCells", "phoneticPr", "conditionalFormatting", "dataValidations",
    "hyperlinks", "printOptions", "pageMargins", "pageSetup", "headerFooter", "rowBreaks",
    "colBreaks", "customProperties", "cellWatches", "ignoredErrors", "smartTags", "drawing",
    "legacyDrawing", "legacyDrawingHF", "picture", "oleObjects", "controls", "webPublishItems",
    "tableParts", "extLst",
]
WORKSHEET_REPEATABLE = {"cols", "conditionalFormatting"}
WORKBOOK_ORDER = [
    "fileVersion", "fileSharing", "workbookPr", "workbookProtection", "bookViews", "sheets",
    "functionGroups", "externalReferences", "definedNames", "calcPr", "oleSize",
    "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes", "webPublishing",
    "fileRecoveryPr", "webPublishObjects", "extLst",
]
STYLESHEET_ORDER = [
    "numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs", "cellStyles", "dxfs",
    "tableStyles", "colors", "extLst",
]
# A font's properties in the order Excel writes them and Microsoft's validator wants them
# (Excel itself opens fonts in any order); a run's properties (rPr) name the font rFont.
FONT_ORDER = ["b", "i", "strike", "condense", "extend", "outline", "shadow", "u", "vertAlign", "sz",
              "color", "name", "family", "charset", "scheme"]
RUN_PROPERTIES = {("rFont" if name == "name" else name) for name in FONT_ORDER}
BORDER_ORDER = ["start", "left", "end", "right", "top", "bottom", "diagonal", "vertical", "horizontal"]
XF_ORDER = ["alignment", "protection", "extLst"]
SHEET_VIEW_ORDER = ["pane", "selection", "pivotSelection", "extLst"]
CELL_ORDER = ["f", "v", "is", "extLst"]
COMMENTS_ORDER = ["authors", "commentList", "extLst"]

CELL_TYPES = {"b", "d", "e", "inlineStr", "n", "s", "str"}
ERROR_VALUES = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA"}
BOOLEANS = {"0", "1", "true", "false"}
HORIZONTAL = {"general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"}
VERTICAL = {"top", "center", "bottom", "justify", "distributed"}
PATTERNS = {"none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal", "darkVertical",
            "darkDown", "darkUp", "darkGrid", "darkTrellis", "lightHorizontal", "lightVertical",
            "lightDown", "lightUp", "lightGrid", "lightTrellis", "gray125", "gray0625"}
BORDER_STYLES = {"none", "thin", "medium", "dashed", "dotted", "thick", "double", "hair",
                 "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot",
                 "slantDashDot"}
UNDERLINES = {"single", "double", "singleAccounting", "doubleAccounting", "none"}
VERTICAL_ALIGNMENTS = {"baseline", "superscript", "subscript"}
SHEET_STATES = {"visible", "hidden", "veryHidden"}
PANES = {"bottomRight", "topRight", "bottomLeft", "topLeft"}
PANE_STATES = {"split", "frozen", "frozenSplit"}
FORBIDDEN_IN_SHEET_NAMES = set("[]:*?/\\")
ROW_FLAGS = {"hidden", "customHeight", "customFormat", "collapsed", "thickTop", "thickBot", "ph"}

CELL_REFERENCE = re.compile(r"([A-Z]{1,3})([1-9][0-9]{0,6})")
NUMBER = re.compile(r"[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?")
INTEGER = re.compile(r"-?[0-9]+")
ARGB = re.compile(r"[0-9A-Fa-f]{8}")
W3CDTF = re.compile(r"\d{4}(-\d{2}(-\d{2}(T\d{2}:\d{2}(:\d{2}(\.\d+)?)?(Z|[+-]\d{2}:\d{2}))?)?)?")
XML_DECLARATION = re.compile(rb"<\?xml[^>]*?encoding\s*=\s*[\"']([A-Za-z0-9._-]+)[\"']")
XML_ID = re.compile(r"[A-Za-z_\u00C0-\uFFFF][-.0-9A-Za-z_\u00B7\u00C0-\uFFFF]*")


class Faults:
    """Fault lines, at most SHOWN_PER_KIND of one kind per part; the rest are counted."""

    def __init__(self):
        self.lines = []
        self.counts = {}

    def add(self, part, kind, text):
        key = (part, kind)
        self.counts[key] = self.counts.get(key, 0) + 1
        if self.counts[key] <= SHOWN_PER_KIND:
            self.lines.append(f"{part}: {text}")

    def result(self):
        lines = list(self.lines)
        for (part, kind), count in self.counts.items():
            if count > SHOWN_PER_KIND:
                lines.append(f"{part}: {count - SHOWN_PER_KIND} more faults like: {kind}")
        return lines


def local(name):
    """The local part of an expat or ElementTree name ("{uri}local", "uri local" or "local")."""
    if name.startswith("{"):
        return name.rsplit("}", 1)[1]
    return name.rsplit(" ", 1)[-1]


def namespace(name):
    if name.startswith("{"):
        return name[1:].split("}", 1)[0]
    return name.rsplit(" ", 1)[0] if " " in name else ""


def column_number(letters):
    number = COLUMN_NUMBERS.get(letters)
    if number is None:
        number = 0
        for letter in letters:
            number = number * 26 + ord(letter) - 64
        COLUMN_NUMBERS[letters] = number
    return number


COLUMN_NUMBERS = {}


def parse_cell(text):
    """(row, column) of an A1 reference inside the grid, or None."""
    match = CELL_REFERENCE.fullmatch(text or "")
    if not match:
        return None
    row, column = int(match.group(2)), column_number(match.group(1))
    if row > MAX_ROWS or column > MAX_COLUMNS:
        return None
    return row, column


def parse_range(text, allow_single=True):
    """((top, left), (bottom, right)) of "A1:B2" (or "A1" when allowed), or None."""
    pieces = (text or "").split(":")
    if len(pieces) == 1 and allow_single:
        pieces = pieces * 2
    if len(pieces) != 2:
        return None
    first, last = parse_cell(pieces[0]), parse_cell(pieces[1])
    if first is None or last is None or first[0] > last[0] or first[1] > last[1]:
        return None
    return first, last


def is_boolean(value):
    return value is None or value in BOOLEANS


def true(value):
    return value in ("1", "true")


def number_of(text):
    """A finite number in xsd:double's lexical form, or None."""
    if text is None or not NUMBER.fullmatch(text):
        return None
    value = float(text)
    return value if math.isfinite(value) else None


def integer_of(text, low=None, high=None):
    if text is None or not INTEGER.fullmatch(text):
        return None
    value = int(text)
    if (low is not None and value < low) or (high is not None and value > high):
        return None
    return value


def utf16_length(text):
    return sum(2 if ord(character) > 0xFFFF else 1 for character in text)


ESCAPED_CHARACTER = re.compile(r"_x[0-9A-Fa-f]{4}_")


def cell_text_units(text):
    """The length of a cell text as Excel counts it: UTF-16 units, an _xHHHH_ escape one unit."""
    if 2 * len(text) <= MAX_CELL_TEXT:
        return len(text)
    return utf16_length(ESCAPED_CHARACTER.sub("_", text))


def check_order(names, order, repeatable, faults, part, where):
    """Children named in `order` come in that order, those not in `repeatable` once."""
    last = -1
    seen = set()
    for name in names:
        if name not in order:
            faults.add(part, "unknown element", f"{where}: unknown element <{name}>")
            continue
        index = order.index(name)
        if index < last:
            faults.add(part, "element order", f"{where}: <{name}> after <{order[last]}>")
        elif name in seen and name not in repeatable:
            faults.add(part, "element repeated", f"{where}: <{name}> more than once")
        last = max(last, index)
        seen.add(name)


def check_count(element, children, faults, part, where):
    declared = element.get("count")
    if declared is not None and integer_of(declared) != len(children):
        faults.add(part, "count", f"{where}: count=\"{declared}\" but {len(children)} children")


# ---- zip


def check_zip(path, package, faults):
    """Entry names, flags, methods, local headers and ZIP64 use; CRCs are checked on reading."""
    infos = package.infolist()
    names = [info.filename for info in infos]
    if not names:
        faults.add("zip", "empty", "no entries")
        return
    if names[0] != "[Content_Types].xml":
        faults.add("zip", "first entry", f"the first entry is {names[0]}, not [Content_Types].xml")
    folded = {}
    for info in infos:
        name = info.filename
        if name.lower() in folded:
            faults.add("zip", "duplicate", f"{name} and {folded[name.lower()]} name one part")
        folded[name.lower()] = name
        if name.startswith("/") or "\\" in name or name.endswith("/") or "//" in name or \
                any(segment in (".", "..") or segment.endswith(".") for segment in name.split("/")):
            faults.add("zip", "name", f"{name!r} is no valid part name")
        if info.flag_bits & 1:
            faults.add("zip", "encrypted", f"{name} is encrypted")
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            faults.add("zip", "method", f"{name} uses compression method {info.compress_type}")
        needs_zip64 = max(info.file_size, info.compress_size, info.header_offset) >= 0xFFFFFFFF
        if has_zip64_field(info.extra) and not needs_zip64:
            faults.add("zip", "zip64", f"{name} has a ZIP64 field in the central directory but no need of one")
    with open(path, "rb") as file:
        for info in infos:
            check_local_header(file, info, faults)
        check_end_records(file, len(infos), faults)


def has_zip64_field(extra):
    at = 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        if tag == 0x0001:
            return True
        at += 4 + size
    return False


def check_local_header(file, info, faults):
    file.seek(info.header_offset)
    header = file.read(30)
    if len(header) < 30 or header[:4] != b"PK\x03\x04":
        faults.add("zip", "local header", f"{info.filename}: no local header at offset {info.header_offset}")
        return
    (_, _, flags, method, _, _, crc, compressed, size, name_length, extra_length) = \
        struct.unpack("<IHHHHHIIIHH", header)
    name = file.read(name_length)
    extra = file.read(extra_length)
    central_name = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
    if name != central_name:
        faults.add("zip", "local header", f"{info.filename}: the local header names {name!r}")
    if method != info.compress_type or (flags & 0x809) != (info.flag_bits & 0x809):
        faults.add("zip", "local header", f"{info.filename}: method or flags differ from the central directory")
    if flags & 0x8:
        # Sizes and CRC follow the data; the local header carries zeros.
        if crc or (compressed and compressed != 0xFFFFFFFF) or (size and size != 0xFFFFFFFF):
            faults.add("zip", "local header", f"{info.filename}: data descriptor flag with non-zero local sizes")
    elif crc != info.CRC or (compressed != info.compress_size and compressed != 0xFFFFFFFF) or \
            (size != info.file_size and size != 0xFFFFFFFF):
        faults.add("zip", "local header", f"{info.filename}: CRC or sizes differ from the central directory")
    if has_zip64_field(extra) and max(info.file_size, info.compress_size) < 0xFFFFFFFF:
        faults.add("zip", "zip64", f"{info.filename}: ZIP64 field in the local header but no need of one")


def check_end_records(file, entries, faults):
    file.seek(0, 2)
    length = file.tell()
    file.seek(max(0, length - 65557))
    tail = file.read()
    end = tail.rfind(b"PK\x05\x06")
    if end < 0:
        faults.add("zip", "end record", "no end of central directory record")
        return
    directory_offset = struct.unpack_from("<I", tail, end + 16)[0]
    if end >= 20 and tail[end - 20:end - 16] == b"PK\x06\x07" and entries < 0xFFFF and \
            directory_offset != 0xFFFFFFFF:
        faults.add("zip", "zip64", "ZIP64 end records but neither entry count nor offsets need them")


def read_part(package, name, faults):
    """The bytes of a part (its CRC checked by reading it whole), or None."""
    try:
        return package.read(name)
    except (zipfile.BadZipFile, OSError, EOFError, ValueError) as error:
        faults.add(name, "unreadable", f"cannot be read: {error}")
        return None


# ---- XML


def check_xml_prolog(data, part, faults):
    """UTF-8 (declared or by default), no DOCTYPE. Returns False when the bytes cannot be XML."""
    if data.startswith((b"\xff\xfe", b"\xfe\xff")):
        faults.add(part, "encoding", "is UTF-16, not UTF-8")
        return False
    declared = XML_DECLARATION.match(data[:200])
    if declared and declared.group(1).lower() not in (b"utf-8", b"utf8"):
        faults.add(part, "encoding", f"declares encoding {declared.group(1).decode()}, not UTF-8")
    if b"<!DOCTYPE" in data[:4096]:
        faults.add(part, "doctype", "has a DOCTYPE")
    return True


def parse_xml(package, name, faults, data=None):
    """The root element of a small part, or None when it is missing, unreadable or ill-formed."""
    if data is None:
        data = read_part(package, name, faults)
    if data is None or not check_xml_prolog(data, name, faults):
        return None
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as error:
        faults.add(name, "encoding", f"is not UTF-8 at byte {error.start}")
        return None
    try:
        # The bytes are UTF-8 (checked above) whatever the declaration says.
        parser = ElementTree.XMLParser(encoding="utf-8")
        parser.feed(data)
        return parser.close()
    except ElementTree.ParseError as error:
        faults.add(name, "xml", f"not well-formed: {error}")
        return None


def q(name, uri=MAIN):
    return "{%s}%s" % (uri, name)


def text_of(element):
    """The text of a string item (si, is, or a comment's text): its t, or its runs' t."""
    direct = element.find(q("t"))
    if direct is not None:
        return direct.text or ""
    return "".join(run.findtext(q("t"), default="") for run in element.findall(q("r")))


def check_string_item(element, faults, part, where):
    """A shared string item, an inline string or a comment text: t, or runs of rPr and t."""
    if len(element) == 1 and element[0].tag == PLAIN_TEXT and not len(element[0]):
        # The common case, one plain text: only its length and its outer spaces matter.
        value = element[0].text or ""
        if cell_text_units(value) <= MAX_CELL_TEXT and \
                (not value or value[0] not in OUTER_SPACE and value[-1] not in OUTER_SPACE):
            return
    names = [local(child.tag) for child in element]
    plain = names.count("t")
    runs = names.count("r")
    if plain > 1 or (plain and runs) or (not plain and not runs):
        faults.add(part, "string item", f"{where}: holds {plain} <t> and {runs} <r>")
    check_order(names, ["t", "r", "rPh", "phoneticPr"], {"r", "rPh"}, faults, part, where)
    for run in element.findall(q("r")):
        run_names = [local(child.tag) for child in run]
        if run_names not in (["t"], ["rPr", "t"]):
            faults.add(part, "run", f"{where}: a run holds {run_names}, not [rPr,] t")
        # A run's properties are a choice in any order (Excel itself writes b, sz, color, rFont);
        # only their values are checked.
        properties = run.find(q("rPr"))
        if properties is not None:
            names = [local(child.tag) for child in properties]
            for name in names:
                if name not in RUN_PROPERTIES:
                    faults.add(part, "unknown element", f"{where} run properties: unknown element <{name}>")
                elif names.count(name) > 1:
                    faults.add(part, "element repeated", f"{where} run properties: <{name}> more than once")
            check_font_values(properties, faults, part, f"{where} run properties")
    for text in element.iter(q("t")):
        value = text.text or ""
        if value != value.strip(OUTER_SPACE) and text.get(q("space", XML_NAMESPACE)) != "preserve":
            faults.add(part, "space", f"{where}: text {value[:20]!r} with outer spaces lacks xml:space=\"preserve\"")
    length = cell_text_units(text_of(element))
    if length > MAX_CELL_TEXT:
        faults.add(part, "text length", f"{where}: {length} characters, more than a cell holds")


PLAIN_TEXT = "{%s}t" % MAIN
OUTER_SPACE = " \t\n\r"


def check_colour(element, faults, part, where):
    if element is None:
        return
    rgb = element.get("rgb")
    if rgb is not None and not ARGB.fullmatch(rgb):
        faults.add(part, "colour", f"{where}: colour rgb=\"{rgb}\" is not ARGB")
    if rgb is None and element.get("theme") is None and element.get("indexed") is None and \
            element.get("auto") is None:
        faults.add(part, "colour", f"{where}: colour without rgb, theme, indexed or auto")


def check_font_values(font, faults, part, where):
    for child in font:
        name = local(child.tag)
        value = child.get("val")
        if name in ("b", "i", "strike", "condense", "extend", "outline", "shadow") and not is_boolean(value):
            faults.add(part, "font", f"{where}: <{name} val=\"{value}\"/>")
        elif name == "sz" and (number_of(value) is None or not 1 <= number_of(value) <= 409):
            faults.add(part, "font", f"{where}: size {value!r}")
        elif name == "u" and value is not None and value not in UNDERLINES:
            faults.add(part, "font", f"{where}: underline {value!r}")
        elif name == "vertAlign" and value not in VERTICAL_ALIGNMENTS:
            faults.add(part, "font", f"{where}: vertical alignment {value!r}")
        elif name in ("name", "rFont") and not value:
            faults.add(part, "font", f"{where}: font without a name")
        elif name == "color":
            check_colour(child, faults, part, where)


# ---- content types and relationships


class Package:
    """What the checks of one package share: parts, content types, relationships."""

    def __init__(self, package, faults):
        self.zip = package
        self.faults = faults
        self.parts = {info.filename.lower(): info.filename for info in package.infolist()
                      if not info.filename.endswith("/")}
        self.defaults = {}
        self.overrides = {}
        self.relationships = {}  # source part ("" for the package) -> [(id, type, target, external)]

    def exists(self, part):
        return part.lower() in self.parts

    def content_type(self, part):
        override = self.overrides.get("/" + part.lower())
        if override is not None:
            return override
        extension = part.rsplit(".", 1)[-1].lower() if "." in part.rsplit("/", 1)[-1] else ""
        return self.defaults.get(extension)

    def related(self, source, relationship_type):
        return [entry for entry in self.relationships.get(source, []) if entry[1] == relationship_type]

    def target_of(self, source, relationship_id):
        for entry in self.relationships.get(source, []):
            if entry[0] == relationship_id:
                return entry
        return None


def check_content_types(package):
    faults = package.faults
    part = "[Content_Types].xml"
    if not package.exists(part):
        faults.add(part, "missing", "missing")
        return
    root = parse_xml(package.zip, package.parts[part.lower()], faults)
    if root is None:
        return
    if root.tag != q("Types", CONTENT_TYPES):
        faults.add(part, "root", f"root element is {root.tag}")
    for element in root:
        kind = local(element.tag)
        content_type = element.get("ContentType")
        if not content_type:
            faults.add(part, "content type", f"<{kind}> without ContentType")
        if kind == "Default":
            extension = (element.get("Extension") or "").lower()
            if not extension or extension in package.defaults:
                faults.add(part, "default", f"Default for extension {extension!r} empty or repeated")
            package.defaults[extension] = content_type
        elif kind == "Override":
            name = element.get("PartName") or ""
            if not name.startswith("/") or name.lower() in package.overrides:
                faults.add(part, "override", f"Override for {name!r} not absolute or repeated")
            elif not package.exists(name[1:]):
                faults.add(part, "override", f"Override for {name}, a part the package does not hold")
            package.overrides[name.lower()] = content_type
        else:
            faults.add(part, "unknown element", f"unknown element <{kind}>")
    for name in package.parts.values():
        if name != "[Content_Types].xml" and package.content_type(name) is None:
            faults.add(part, "no content type", f"{name} has no content type")


def source_of_relationships_part(name):
    """The part a relationships part belongs to ("" for the package), or None if misplaced."""
    folder, _, file_name = name.rpartition("/")
    if not (folder == "_rels" or folder.endswith("/_rels")) or not file_name.endswith(".rels"):
        return None
    base = folder[:-len("_rels")]
    return base + file_name[:-len(".rels")]


def resolve(source, target):
    """The zip name a relationship's target names, relative to its source part."""
    if target.startswith("/"):
        joined = target
    else:
        joined = posixpath.join("/" + posixpath.dirname(source), target)
    return posixpath.normpath(joined).lstrip("/")


def check_relationships(package):
    faults = package.faults
    for name in sorted(package.parts.values()):
        if not name.lower().endswith(".rels"):
            continue
        source = source_of_relationships_part(name)
        if source is None:
            faults.add(name, "placement", "a relationships part outside a _rels folder")
            continue
        if source and not package.exists(source):
            faults.add(name, "source", f"relationships of {source}, a part the package does not hold")
        if package.content_type(name) != RELATIONSHIPS_CONTENT_TYPE:
            faults.add(name, "content type", f"content type {package.content_type(name)!r}")
        root = parse_xml(package.zip, name, faults)
        if root is None:
            continue
        if root.tag != q("Relationships", PACKAGE_RELATIONSHIPS):
            faults.add(name, "root", f"root element is {root.tag}")
        entries = []
        seen = set()
        for element in root:
            identifier = element.get("Id") or ""
            relationship_type = element.get("Type") or ""
            target = element.get("Target")
            external = element.get("TargetMode") == "External"
            if not XML_ID.fullmatch(identifier) or ":" in identifier:
                faults.add(name, "id", f"relationship id {identifier!r} is not an XML ID")
            if identifier in seen:
                faults.add(name, "id", f"relationship id {identifier} used twice")
            seen.add(identifier)
            if not relationship_type or target is None:
                faults.add(name, "relationship", f"{identifier}: without Type or Target")
                continue
            if external:
                entries.append((identifier, relationship_type, target, True))
                continue
            resolved = resolve(source, target)
            if not package.exists(resolved):
                faults.add(name, "dangling", f"{identifier} points to {target}, which the package does not hold")
                continue
            resolved = package.parts[resolved.lower()]
            expected = CONTENT_TYPE_OF_RELATIONSHIP.get(relationship_type)
            found = package.content_type(resolved)
            if expected is not None and found != expected:
                faults.add(name, "content type", f"{identifier}: {resolved} is {found!r}, expected {expected}")
            entries.append((identifier, relationship_type, resolved, False))
        package.relationships[source] = entries
    # Every part is reached from the package's relationships.
    reached = set()
    pending = [""]
    while pending:
        source = pending.pop()
        for _, _, target, external in package.relationships.get(source, []):
            if not external and target not in reached:
                reached.add(target)
                pending.append(target)
    for name in package.parts.values():
        if name != "[Content_Types].xml" and not name.lower().endswith(".rels") and name not in reached:
            faults.add(name, "unreached", "no relationship leads to this part")


# ---- workbook


class WorkbookFacts:
    def __init__(self):
        self.sheets = []  # (name, part or None, state)
        self.active = 0
        self.views = 0
        self.cell_formats = 0
        self.shared_strings = 0


def check_workbook(package, facts):
    faults = package.faults
    documents = package.related("", TYPE_OFFICE_DOCUMENT)
    if len(documents) != 1:
        faults.add("_rels/.rels", "office document", f"{len(documents)} officeDocument relationships, expected 1")
        return None
    part = documents[0][2]
    root = parse_xml(package.zip, part, faults)
    if root is None:
        return part
    if root.tag != q("workbook"):
        faults.add(part, "root", f"root element is {root.tag}")
        return part
    check_order([local(child.tag) for child in root], WORKBOOK_ORDER, set(), faults, part, "workbook")
    views = root.findall(f"{q('bookViews')}/{q('workbookView')}")
    facts.views = len(views)
    sheets = root.findall(f"{q('sheets')}/{q('sheet')}")
    if not sheets:
        faults.add(part, "sheets", "no sheets")
    ids, relationship_ids, folded_names = set(), set(), {}
    for position, sheet in enumerate(sheets, 1):
        name = sheet.get("name")
        where = f"sheet {position}"
        sheet_id = integer_of(sheet.get("sheetId"), 1, 0xFFFFFFFF)
        relationship_id = sheet.get(q("id", RELATIONSHIPS))
        state = sheet.get("state", "visible")
        if sheet_id is None or sheet_id in ids:
            faults.add(part, "sheetId", f"{where}: sheetId {sheet.get('sheetId')!r} missing, invalid or repeated")
        ids.add(sheet_id)
        if not relationship_id or relationship_id in relationship_ids:
            faults.add(part, "r:id", f"{where}: r:id {relationship_id!r} missing or repeated")
        relationship_ids.add(relationship_id)
        if state not in SHEET_STATES:
            faults.add(part, "state", f"{where}: state {state!r}")
        for problem in sheet_name_problems(name or ""):
            faults.add(part, "sheet name", f"{where}: name {name!r} {problem}")
        folded = (name or "").casefold()
        if folded in folded_names:
            faults.add(part, "sheet name", f"{where}: name {name!r} equals {folded_names[folded]!r} ignoring case")
        folded_names[folded] = name
        target = package.target_of(part, relationship_id)
        sheet_part = None
        if target is None:
            faults.add(part, "r:id", f"{where}: r:id {relationship_id} has no relationship")
        elif target[1] != TYPE_WORKSHEET:
            faults.add(part, "r:id", f"{where}: r:id {relationship_id} is a {target[1].rsplit('/', 1)[-1]} relationship")
        else:
            sheet_part = target[2]
        facts.sheets.append((name, sheet_part, state))
    used = {sheet.get(q("id", RELATIONSHIPS)) for sheet in sheets}
    for identifier, relationship_type, target, _ in package.relationships.get(part, []):
        if relationship_type == TYPE_WORKSHEET and identifier not in used:
            faults.add(part, "r:id", f"worksheet {target} ({identifier}) belongs to no sheet")
    if sheets and all(state != "visible" for _, _, state in facts.sheets):
        faults.add(part, "state", "every sheet is hidden")
    if views:
        active = integer_of(views[0].get("activeTab", "0"), 0)
        if active is None or active >= len(sheets):
            faults.add(part, "activeTab", f"activeTab {views[0].get('activeTab')!r} names no sheet")
        else:
            facts.active = active
            if facts.sheets[active][2] != "visible":
                faults.add(part, "activeTab", f"the active sheet {facts.sheets[active][0]!r} is hidden")
    for defined in root.findall(f"{q('definedNames')}/{q('definedName')}"):
        scope = defined.get("localSheetId")
        if scope is not None and integer_of(scope, 0, len(sheets) - 1) is None:
            faults.add(part, "defined name", f"{defined.get('name')}: localSheetId {scope} names no sheet")
        if not defined.get("name") or not (defined.text or "").strip():
            faults.add(part, "defined name", f"defined name {defined.get('name')!r} without name or formula")
    for kind in (TYPE_STYLES, TYPE_SHARED_STRINGS):
        if len(package.related(part, kind)) > 1:
            faults.add(part, "relationship", f"more than one {kind.rsplit('/', 1)[-1]} relationship")
    if not package.related(part, TYPE_STYLES):
        faults.add(part, "styles", "no styles part")
    return part


def sheet_name_problems(name):
    problems = []
    if not 1 <= utf16_length(name) <= 31:
        problems.append("is not 1 to 31 characters long")
    if FORBIDDEN_IN_SHEET_NAMES & set(name):
        problems.append("holds one of []:*?/\\")
    if name.startswith("'") or name.endswith("'"):
        problems.append("begins or ends with an apostrophe")
    if name.casefold() == "history":
        problems.append("is reserved")
    return problems


# ---- styles and shared strings


def check_styles(package, workbook_part, facts):
    faults = package.faults
    related = package.related(workbook_part, TYPE_STYLES)
    if not related:
        return
    part = related[0][2]
    root = parse_xml(package.zip, part, faults)
    if root is None:
        return
    if root.tag != q("styleSheet"):
        faults.add(part, "root", f"root element is {root.tag}")
        return
    check_order([local(child.tag) for child in root], STYLESHEET_ORDER, set(), faults, part, "styleSheet")

    def collection(name, child):
        holder = root.find(q(name))
        items = holder.findall(q(child)) if holder is not None else []
        if holder is not None:
            check_count(holder, items, faults, part, name)
        return items

    formats = collection("numFmts", "numFmt")
    format_ids = set()
    for element in formats:
        number = integer_of(element.get("numFmtId"), 0)
        if number is None or number in format_ids:
            faults.add(part, "numFmt", f"numFmtId {element.get('numFmtId')!r} invalid or repeated")
        if not element.get("formatCode"):
            faults.add(part, "numFmt", f"numFmt {element.get('numFmtId')} without a format code")
        format_ids.add(number)
    fonts = collection("fonts", "font")
    for index, font in enumerate(fonts):
        check_order([local(child.tag) for child in font], FONT_ORDER, set(), faults, part, f"font {index}")
        check_font_values(font, faults, part, f"font {index}")
    fills = collection("fills", "fill")
    for index, fill in enumerate(fills):
        pattern = fill.find(q("patternFill"))
        kind = pattern.get("patternType", "none") if pattern is not None else None
        if pattern is not None and kind not in PATTERNS:
            faults.add(part, "fill", f"fill {index}: pattern {kind!r}")
        if index < 2 and kind != ("none", "gray125")[index]:
            faults.add(part, "fill", f"fill {index} is {kind!r}; the first two fills are none and gray125")
        if pattern is not None:
            for colour in pattern:
                check_colour(colour, faults, part, f"fill {index}")
    borders = collection("borders", "border")
    for index, border in enumerate(borders):
        check_order([local(child.tag) for child in border], BORDER_ORDER, set(), faults, part, f"border {index}")
        for side in border:
            style = side.get("style")
            if style is not None and style not in BORDER_STYLES:
                faults.add(part, "border", f"border {index}: style {style!r}")
            check_colour(side.find(q("color")), faults, part, f"border {index}")
    style_xfs = collection("cellStyleXfs", "xf")
    cell_xfs = collection("cellXfs", "xf")
    for name, items in (("fonts", fonts), ("fills", fills), ("borders", borders), ("cellStyleXfs", style_xfs),
                        ("cellXfs", cell_xfs)):
        if not items:
            faults.add(part, "empty", f"no {name}")
    if len(fills) < 2:
        faults.add(part, "fill", "fewer than the two reserved fills")
    if len(cell_xfs) > MAX_CELL_FORMATS:
        faults.add(part, "cellXfs", f"{len(cell_xfs)} cell formats, more than Excel keeps")
    for holder, items in (("cellStyleXfs", style_xfs), ("cellXfs", cell_xfs)):
        for index, xf in enumerate(items):
            where = f"{holder} {index}"
            for attribute, table in (("fontId", fonts), ("fillId", fills), ("borderId", borders)):
                value = integer_of(xf.get(attribute, "0"), 0)
                if value is None or value >= len(table):
                    faults.add(part, "xf index", f"{where}: {attribute}={xf.get(attribute)!r} past {len(table)} entries")
            number = integer_of(xf.get("numFmtId", "0"), 0)
            if number is None or (number >= FIRST_CUSTOM_FORMAT and number not in format_ids):
                faults.add(part, "xf index", f"{where}: numFmtId={xf.get('numFmtId')!r} is neither built in nor defined")
            if holder == "cellXfs":
                parent = integer_of(xf.get("xfId", "0"), 0)
                if parent is None or parent >= len(style_xfs):
                    faults.add(part, "xf index", f"{where}: xfId={xf.get('xfId')!r} past {len(style_xfs)} style formats")
            check_order([local(child.tag) for child in xf], XF_ORDER, set(), faults, part, where)
            alignment = xf.find(q("alignment"))
            if alignment is not None:
                check_alignment(alignment, faults, part, where)
    for style in collection("cellStyles", "cellStyle"):
        parent = integer_of(style.get("xfId"), 0)
        if parent is None or parent >= len(style_xfs):
            faults.add(part, "xf index", f"cell style {style.get('name')!r}: xfId {style.get('xfId')!r} out of range")
    collection("dxfs", "dxf")
    facts.cell_formats = len(cell_xfs)


def check_alignment(alignment, faults, part, where):
    horizontal = alignment.get("horizontal")
    vertical = alignment.get("vertical")
    if horizontal is not None and horizontal not in HORIZONTAL:
        faults.add(part, "alignment", f"{where}: horizontal {horizontal!r}")
    if vertical is not None and vertical not in VERTICAL:
        faults.add(part, "alignment", f"{where}: vertical {vertical!r}")
    rotation = alignment.get("textRotation")
    if rotation is not None and (integer_of(rotation) is None or
                                 not (0 <= int(rotation) <= 180 or int(rotation) == 255)):
        faults.add(part, "alignment", f"{where}: textRotation {rotation!r}")
    indent = alignment.get("indent")
    if indent is not None and integer_of(indent, 0, 250) is None:
        faults.add(part, "alignment", f"{where}: indent {indent!r}")
    for flag in ("wrapText", "shrinkToFit", "justifyLastLine"):
        if not is_boolean(alignment.get(flag)):
            faults.add(part, "alignment", f"{where}: {flag}={alignment.get(flag)!r}")


def check_shared_strings(package, workbook_part, facts):
    faults = package.faults
    related = package.related(workbook_part, TYPE_SHARED_STRINGS)
    if not related:
        return
    part = related[0][2]
    root = parse_xml(package.zip, part, faults)
    if root is None:
        return
    if root.tag != q("sst"):
        faults.add(part, "root", f"root element is {root.tag}")
        return
    items = root.findall(q("si"))
    unique = root.get("uniqueCount")
    if unique is not None and integer_of(unique) != len(items):
        faults.add(part, "count", f"uniqueCount=\"{unique}\" but {len(items)} items")
    for index, item in enumerate(items):
        check_string_item(item, faults, part, f"string {index}")
    facts.shared_strings = len(items)


# ---- worksheets


class SheetFacts:
    """What a worksheet's stream leaves for the checks across parts."""

    def __init__(self):
        self.tab_selected = False
        self.legacy_drawing = None
        self.relationship_ids = []  # (element, r:id)


class WorksheetReader:
    """Streams one worksheet part through expat and checks it as it goes."""

    def __init__(self, package, part, facts, sheet):
        self.faults = package.faults
        self.part = part
        self.facts = facts
        self.sheet = sheet
        self.stack = []
        self.names = {}
        self.good_styles = set()
        self.top_level = []
        self.sheet_view_children = []
        self.row = 0
        self.column = 0
        self.cell = None  # (reference, type, style) of the open cell
        self.cell_children = []
        self.text = []
        self.collect = False
        self.string_element = None  # an ElementTree builder for <is>
        self.merges = []
        self.merge_holder_count = None
        self.columns_end = 0
        self.column_entries = 0
        self.selections = []
        self.pane = None

    def fault(self, kind, text):
        self.faults.add(self.part, kind, text)

    def read(self, stream):
        parser = xml.parsers.expat.ParserCreate(namespace_separator=" ")
        parser.buffer_text = True
        parser.StartElementHandler = self.start
        parser.EndElementHandler = self.end
        parser.CharacterDataHandler = self.characters
        parser.StartDoctypeDeclHandler = lambda *ignored: self.fault("doctype", "has a DOCTYPE")
        parser.XmlDeclHandler = self.declaration
        try:
            parser.ParseFile(stream)
        except xml.parsers.expat.ExpatError as error:
            self.fault("xml", f"not well-formed: {error}")
            return
        except (zipfile.BadZipFile, OSError, EOFError) as error:
            self.fault("unreadable", f"cannot be read: {error}")
            return
        self.finish()

    def declaration(self, version, encoding, standalone):
        if encoding is not None and encoding.lower() not in ("utf-8", "utf8"):
            self.fault("encoding", f"declares encoding {encoding}, not UTF-8")

    def names_of(self, name):
        """(local name, whether in SpreadsheetML, ElementTree tag) of an expat name, cached:
        a large sheet has millions of elements of a handful of names."""
        found = self.names.get(name)
        if found is None:
            uri = namespace(name)
            short = local(name)
            found = self.names[name] = (short, uri == MAIN, q(short, uri) if uri else short)
        return found

    def start(self, name, attributes):
        short, in_main, tag = self.names.get(name) or self.names_of(name)
        stack = self.stack
        depth = len(stack)
        stack.append(short)
        if self.string_element is not None:
            self.string_element.start(tag, {self.attribute_key(key): value for key, value in attributes.items()})
            return
        # The cells and rows of sheetData first: they are nearly all of a sheet.
        in_sheet_data = depth > 2 and stack[1] == "sheetData" and in_main
        if depth == 3 and short == "c" and in_sheet_data and stack[2] == "row":
            self.start_cell(attributes)
            return
        if depth == 4 and stack[3] == "c" and in_sheet_data:
            self.cell_children.append(short)
            if short == "v":
                self.collect = True
                self.text = []
            elif short == "is":
                self.string_element = ElementTree.TreeBuilder()
                self.string_element.start(q("is"), {})
            return
        if depth == 2 and short == "row" and stack[1] == "sheetData" and in_main:
            self.start_row(attributes)
            return
        if depth == 0:
            if name != f"{MAIN} worksheet":
                self.fault("root", f"root element is {name}")
            return
        if depth == 1:
            if in_main:
                self.top_level.append(short)
                self.start_top_level(short, attributes)
            return
        parent = stack[-2]
        if parent == "cols" and short == "col":
            self.start_column(attributes)
        elif parent == "mergeCells" and short == "mergeCell":
            self.start_merge(attributes)
        elif parent == "sheetViews" and short == "sheetView":
            self.start_sheet_view(attributes)
        elif parent == "sheetView":
            self.sheet_view_children.append(short)
            if short == "pane":
                self.pane = attributes
            elif short == "selection":
                self.selections.append(attributes)
        elif parent == "hyperlinks" and short == "hyperlink":
            if parse_range(attributes.get("ref")) is None:
                self.fault("hyperlink", f"hyperlink ref {attributes.get('ref')!r}")
            identifier = attributes.get(f"{RELATIONSHIPS} id")
            if identifier:
                self.sheet.relationship_ids.append(("hyperlink", identifier))

    @staticmethod
    def attribute_key(key):
        return q(local(key), namespace(key)) if " " in key else key

    def end(self, name):
        short = self.stack.pop()
        if self.string_element is not None:
            if short == "is" and len(self.stack) == 4:
                self.string_element.end(q("is"))
                item = self.string_element.close()
                self.string_element = None
                check_string_item(item, self.faults, self.part, f"cell {self.cell[0]}")
            else:
                self.string_element.end(self.names[name][2])
            return
        if short == "v" and self.collect:
            self.collect = False
            self.check_value("".join(self.text))
        elif short == "c" and self.cell is not None and len(self.stack) == 3:
            self.end_cell()
        elif short == "sheetView":
            self.end_sheet_view()
        elif short == "mergeCells":
            if self.merge_holder_count is not None and integer_of(self.merge_holder_count) != len(self.merges):
                self.fault("count", f"mergeCells count=\"{self.merge_holder_count}\" but {len(self.merges)} merges")
            if not self.merges:
                self.fault("empty", "an empty <mergeCells>")
        elif short == "cols" and self.column_entries == 0:
            self.fault("empty", "an empty <cols>")

    def characters(self, data):
        if self.string_element is not None:
            self.string_element.data(data)
        elif self.collect:
            self.text.append(data)

    # Top level.

    def start_top_level(self, short, attributes):
        if short == "dimension":
            if parse_range(attributes.get("ref")) is None:
                self.fault("dimension", f"dimension ref {attributes.get('ref')!r}")
        elif short == "sheetFormatPr":
            height = number_of(attributes.get("defaultRowHeight"))
            if height is None or not 0 <= height <= MAX_ROW_HEIGHT:
                self.fault("sheetFormatPr", f"defaultRowHeight {attributes.get('defaultRowHeight')!r}")
            width = attributes.get("defaultColWidth")
            if width is not None and (number_of(width) is None or not 0 <= number_of(width) <= MAX_COLUMN_WIDTH):
                self.fault("sheetFormatPr", f"defaultColWidth {width!r}")
            base = attributes.get("baseColWidth")
            if base is not None and integer_of(base, 0, MAX_COLUMN_WIDTH) is None:
                self.fault("sheetFormatPr", f"baseColWidth {base!r}")
        elif short == "mergeCells":
            self.merge_holder_count = attributes.get("count")
        elif short == "autoFilter":
            if parse_range(attributes.get("ref")) is None:
                self.fault("autoFilter", f"autoFilter ref {attributes.get('ref')!r}")
        elif short == "pageMargins":
            for side in ("left", "right", "top", "bottom", "header", "footer"):
                value = number_of(attributes.get(side))
                if value is None or value < 0:
                    self.fault("pageMargins", f"page margin {side}={attributes.get(side)!r}")
        elif short in ("drawing", "legacyDrawing", "legacyDrawingHF", "picture"):
            identifier = attributes.get(f"{RELATIONSHIPS} id")
            if not identifier:
                self.fault("r:id", f"<{short}> without r:id")
            else:
                self.sheet.relationship_ids.append((short, identifier))
                if short == "legacyDrawing":
                    self.sheet.legacy_drawing = identifier

    # Views.

    def start_sheet_view(self, attributes):
        self.sheet_view_children = []
        self.selections = []
        self.pane = None
        view = integer_of(attributes.get("workbookViewId"), 0)
        if view is None or view >= max(self.facts.views, 1):
            self.fault("sheetView", f"workbookViewId {attributes.get('workbookViewId')!r} names no workbook view")
        if not is_boolean(attributes.get("tabSelected")):
            self.fault("sheetView", f"tabSelected {attributes.get('tabSelected')!r}")
        if true(attributes.get("tabSelected")):
            self.sheet.tab_selected = True
        if attributes.get("topLeftCell") is not None and parse_cell(attributes["topLeftCell"]) is None:
            self.fault("sheetView", f"topLeftCell {attributes['topLeftCell']!r}")

    def end_sheet_view(self):
        check_order(self.sheet_view_children, SHEET_VIEW_ORDER, {"selection", "pivotSelection"}, self.faults,
                    self.part, "sheetView")
        panes = {"topLeft"}
        if self.pane is not None:
            panes = self.check_pane(self.pane)
        seen = set()
        for selection in self.selections:
            pane = selection.get("pane", "topLeft")
            if pane not in panes:
                self.fault("selection", f"selection in pane {pane!r}, which this view does not have")
            if pane in seen:
                self.fault("selection", f"two selections in pane {pane}")
            seen.add(pane)
            active = selection.get("activeCell")
            ranges = [parse_range(piece) for piece in (selection.get("sqref") or active or "A1").split()]
            if None in ranges:
                self.fault("selection", f"selection sqref {selection.get('sqref')!r}")
                continue
            if active is not None:
                cell = parse_cell(active)
                if cell is None:
                    self.fault("selection", f"selection activeCell {active!r}")
                elif not any(top[0] <= cell[0] <= bottom[0] and top[1] <= cell[1] <= bottom[1]
                             for top, bottom in ranges):
                    self.fault("selection", f"activeCell {active} outside sqref {selection.get('sqref')}")

    def check_pane(self, pane):
        """The panes a view with this pane has; faults where the pane is inconsistent."""
        state = pane.get("state", "split")
        if state not in PANE_STATES:
            self.fault("pane", f"pane state {state!r}")
        x = number_of(pane.get("xSplit", "0"))
        y = number_of(pane.get("ySplit", "0"))
        if x is None or y is None or x < 0 or y < 0:
            self.fault("pane", f"pane splits {pane.get('xSplit')!r}, {pane.get('ySplit')!r}")
            return PANES
        if x == 0 and y == 0:
            self.fault("pane", "a pane that splits nothing")
        frozen = state in ("frozen", "frozenSplit")
        if frozen and (x != int(x) or y != int(y) or x > MAX_COLUMNS or y > MAX_ROWS):
            self.fault("pane", f"frozen pane splits {pane.get('xSplit')!r}, {pane.get('ySplit')!r} are no cell counts")
        panes = {"topLeft"}
        if x > 0:
            panes.add("topRight")
        if y > 0:
            panes.add("bottomLeft")
        if x > 0 and y > 0:
            panes.add("bottomRight")
        active = pane.get("activePane", "topLeft")
        if active not in panes:
            self.fault("pane", f"activePane {active!r} is not one of this view's panes")
        elif frozen and active != {(True, True): "bottomRight", (True, False): "topRight",
                                   (False, True): "bottomLeft"}.get((x > 0, y > 0), "topLeft"):
            self.fault("pane", f"frozen view's activePane {active!r} is not the scrolling pane")
        corner = pane.get("topLeftCell")
        if corner is not None:
            cell = parse_cell(corner)
            if cell is None:
                self.fault("pane", f"pane topLeftCell {corner!r}")
            elif frozen and (cell[0] <= y or cell[1] <= x):
                self.fault("pane", f"pane topLeftCell {corner} inside the frozen rows or columns")
        return panes

    # Columns.

    def start_column(self, attributes):
        self.column_entries += 1
        first = integer_of(attributes.get("min"), 1, MAX_COLUMNS)
        last = integer_of(attributes.get("max"), 1, MAX_COLUMNS)
        where = f"col {attributes.get('min')}-{attributes.get('max')}"
        if first is None or last is None or first > last:
            self.fault("col", f"{where}: min and max are not a column run inside the grid")
            return
        if first <= self.columns_end:
            self.fault("col order", f"{where}: overlaps or precedes the run ending at column {self.columns_end}")
        self.columns_end = max(self.columns_end, last)
        width = attributes.get("width")
        if width is not None and (number_of(width) is None or not 0 <= number_of(width) <= MAX_COLUMN_WIDTH):
            self.fault("col", f"{where}: width {width!r}")
        if true(attributes.get("customWidth")) and width is None:
            self.fault("col", f"{where}: customWidth without a width")
        for flag in ("hidden", "customWidth", "bestFit", "collapsed", "phonetic"):
            if not is_boolean(attributes.get(flag)):
                self.fault("col", f"{where}: {flag}={attributes.get(flag)!r}")
        self.check_style(attributes.get("style"), where)
        if attributes.get("outlineLevel") is not None and integer_of(attributes["outlineLevel"], 0, 7) is None:
            self.fault("col", f"{where}: outlineLevel {attributes['outlineLevel']!r}")

    def check_style(self, style, where):
        if style is None or style in self.good_styles:
            return
        index = integer_of(style, 0)
        if index is None or index >= self.facts.cell_formats:
            self.fault("style index", f"{where}: style {style} past {self.facts.cell_formats} cell formats")
        else:
            self.good_styles.add(style)

    # Rows and cells.

    def start_row(self, attributes):
        number = attributes.get("r")
        row = self.row + 1 if number is None else integer_of(number)
        if row is None or not 1 <= row <= MAX_ROWS:
            self.fault("row", f"row r={number!r} outside the grid")
            row = self.row + 1
        elif row <= self.row:
            self.fault("row order", f"row {row} after row {self.row}")
        self.row = max(row, self.row)
        self.current_row = row
        self.column = 0
        if len(attributes) == 1:
            return
        where = f"row {row}"
        height = attributes.get("ht")
        if height is not None and (number_of(height) is None or not 0 <= number_of(height) <= MAX_ROW_HEIGHT):
            self.fault("row", f"{where}: height {height!r}")
        if true(attributes.get("customHeight")) and height is None:
            self.fault("row", f"{where}: customHeight without a height")
        for flag, value in attributes.items():
            if flag in ROW_FLAGS and value not in BOOLEANS:
                self.fault("row", f"{where}: {flag}={value!r}")
        self.check_style(attributes.get("s"), where)
        spans = attributes.get("spans")
        if spans is not None:
            for span in spans.split():
                low, _, high = span.partition(":")
                low, high = integer_of(low, 1, MAX_COLUMNS), integer_of(high, 1, MAX_COLUMNS)
                if low is None or high is None or low > high:
                    self.fault("row", f"{where}: spans {spans!r}")

    def start_cell(self, attributes):
        reference = attributes.get("r")
        row = self.current_row
        if reference is None:
            column = self.column + 1
            reference = f"R{row}C{column}"
        else:
            cell = parse_cell(reference)
            if cell is None:
                self.fault("cell", f"cell {reference!r} is no reference inside the grid")
                column = self.column + 1
            else:
                column = cell[1]
                if cell[0] != row:
                    self.fault("cell row", f"cell {reference} inside row {row}")
        if column > MAX_COLUMNS:
            self.fault("cell", f"cell {reference} past the last column")
        if column <= self.column:
            self.fault("cell order", f"cell {reference} after column {self.column} of row {row}")
        self.column = max(column, self.column)
        kind = attributes.get("t", "n")
        if kind not in CELL_TYPES:
            self.fault("cell type", f"cell {reference}: type {kind!r}")
        elif kind == "d":
            self.fault("cell type", f"cell {reference}: an ISO date cell (t=\"d\"), which older Excel repairs")
        self.check_style(attributes.get("s"), f"cell {reference}")
        self.cell = (reference, kind)
        self.cell_children = []

    def check_value(self, text):
        reference, kind = self.cell
        if kind == "n":
            if number_of(text) is None:
                self.fault("number", f"cell {reference}: {text[:30]!r} is no finite number")
        elif kind == "s":
            index = integer_of(text, 0)
            if index is None or index >= self.facts.shared_strings:
                self.fault("string index", f"cell {reference}: shared string {text!r} past {self.facts.shared_strings} strings")
        elif kind == "b":
            if text not in ("0", "1"):
                self.fault("boolean", f"cell {reference}: boolean {text!r}")
        elif kind == "e":
            if text not in ERROR_VALUES:
                self.fault("error value", f"cell {reference}: error {text!r}")
        elif kind == "str":
            if cell_text_units(text) > MAX_CELL_TEXT:
                self.fault("text length", f"cell {reference}: {cell_text_units(text)} characters, more than a cell holds")

    def end_cell(self):
        reference, kind = self.cell
        self.cell = None
        if len(self.cell_children) > 1:
            check_order(self.cell_children, CELL_ORDER, set(), self.faults, self.part, f"cell {reference}")
        if kind == "inlineStr" and "is" not in self.cell_children:
            self.fault("inline string", f"cell {reference}: an inline string without <is>")
        if kind != "inlineStr" and "is" in self.cell_children:
            self.fault("inline string", f"cell {reference}: <is> in a cell of type {kind}")

    # Merges.

    def start_merge(self, attributes):
        reference = attributes.get("ref")
        merged = parse_range(reference, allow_single=False)
        if merged is None:
            self.fault("merge", f"merge {reference!r} is no range inside the grid")
        elif merged[0] == merged[1]:
            self.fault("merge", f"merge {reference} covers a single cell")
        else:
            self.merges.append((merged, reference))

    def finish(self):
        check_order(self.top_level, WORKSHEET_ORDER, WORKSHEET_REPEATABLE, self.faults, self.part, "worksheet")
        if "sheetData" not in self.top_level:
            self.fault("sheetData", "no <sheetData>")
        # Sorted by top row, a merge can only overlap the ones after it that start above its bottom.
        merges = sorted(self.merges)
        for index, (((top, left), (bottom, right)), reference) in enumerate(merges):
            for ((other_top, other_left), (_, other_right)), other in merges[index + 1:]:
                if other_top > bottom:
                    break
                if other_left <= right and left <= other_right:
                    self.fault("merge overlap", f"merge {reference} overlaps merge {other}")


def check_worksheets(package, workbook_part, facts):
    sheets = []
    for name, part, _ in facts.sheets:
        sheet = SheetFacts()
        sheets.append(sheet)
        if part is None:
            continue
        check_xml_start(package, part)
        try:
            with package.zip.open(part) as stream:
                WorksheetReader(package, part, facts, sheet).read(stream)
        except (zipfile.BadZipFile, OSError, KeyError) as error:
            package.faults.add(part, "unreadable", f"cannot be read: {error}")
            continue
        check_sheet_relationships(package, part, sheet)
    # A selected tab other than the active one opens the workbook with its sheets grouped.
    selected = [index for index, sheet in enumerate(sheets) if sheet.tab_selected]
    if workbook_part and facts.sheets and selected not in ([], [facts.active]):
        shown = [facts.sheets[index][0] for index in selected]
        package.faults.add(workbook_part, "tabSelected",
                           f"selected tabs {shown}, expected only the active sheet {facts.sheets[facts.active][0]!r}")


def check_xml_start(package, part):
    """The byte-order mark of a part too large to read whole (expat reads UTF-16 without a word)."""
    try:
        with package.zip.open(part) as stream:
            head = stream.read(4096)
    except (zipfile.BadZipFile, OSError, KeyError):
        return
    if head.startswith((b"\xff\xfe", b"\xfe\xff")):
        package.faults.add(part, "encoding", "is UTF-16, not UTF-8")


def check_sheet_relationships(package, part, sheet):
    faults = package.faults
    for element, identifier in sheet.relationship_ids:
        entry = package.target_of(part, identifier)
        if entry is None:
            faults.add(part, "r:id", f"<{element}> r:id {identifier} has no relationship")
        elif element == "legacyDrawing" and entry[1] != TYPE_VML_DRAWING:
            faults.add(part, "r:id", f"<legacyDrawing> r:id {identifier} is no vmlDrawing relationship")
        elif element == "hyperlink" and entry[1] != TYPE_HYPERLINK:
            faults.add(part, "r:id", f"hyperlink r:id {identifier} is no hyperlink relationship")
    comments = package.related(part, TYPE_COMMENTS)
    if len(comments) > 1:
        faults.add(part, "comments", "more than one comments part")
    if comments:
        drawing = package.target_of(part, sheet.legacy_drawing) if sheet.legacy_drawing else None
        if drawing is None or drawing[1] != TYPE_VML_DRAWING:
            faults.add(part, "comments", "comments without a <legacyDrawing> naming their VML drawing")
            drawing = None
        check_comments(package, comments[0][2], drawing[2] if drawing else None)


# ---- comments and their drawing


def check_comments(package, part, drawing_part):
    faults = package.faults
    root = parse_xml(package.zip, part, faults)
    if root is None:
        return
    if root.tag != q("comments"):
        faults.add(part, "root", f"root element is {root.tag}")
        return
    check_order([local(child.tag) for child in root], COMMENTS_ORDER, set(), faults, part, "comments")
    authors = root.findall(f"{q('authors')}/{q('author')}")
    if root.find(q("authors")) is None:
        faults.add(part, "authors", "no <authors>")
    cells = set()
    for comment in root.findall(f"{q('commentList')}/{q('comment')}"):
        reference = comment.get("ref")
        cell = parse_cell(reference)
        where = f"comment {reference}"
        if cell is None:
            faults.add(part, "comment", f"{where}: ref is no cell inside the grid")
            continue
        if cell in cells:
            faults.add(part, "comment", f"{where}: a second comment on one cell")
        cells.add(cell)
        author = integer_of(comment.get("authorId"), 0)
        if author is None or author >= len(authors):
            faults.add(part, "comment", f"{where}: authorId {comment.get('authorId')!r} past {len(authors)} authors")
        text = comment.find(q("text"))
        if text is None:
            faults.add(part, "comment", f"{where}: no <text>")
        else:
            check_string_item(text, faults, part, where)
    if drawing_part is None:
        return
    drawing = parse_xml(package.zip, drawing_part, faults)
    if drawing is None:
        return
    notes = set()
    for data in drawing.iter(q("ClientData", VML_EXCEL)):
        if data.get("ObjectType") != "Note":
            continue
        row = integer_of((data.findtext(q("Row", VML_EXCEL)) or "").strip(), 0, MAX_ROWS - 1)
        column = integer_of((data.findtext(q("Column", VML_EXCEL)) or "").strip(), 0, MAX_COLUMNS - 1)
        if row is None or column is None:
            faults.add(drawing_part, "note", "a note shape without a valid x:Row and x:Column")
            continue
        notes.add((row + 1, column + 1))
    for row, column in sorted(cells - notes):
        faults.add(drawing_part, "note", f"no note shape for the comment at row {row}, column {column}")
    for row, column in sorted(notes - cells):
        faults.add(drawing_part, "note", f"a note shape at row {row}, column {column} without a comment")


# ---- document properties


def check_properties(package):
    faults = package.faults
    for _, _, part, _ in package.related("", TYPE_CORE):
        root = parse_xml(package.zip, part, faults)
        if root is None:
            continue
        if root.tag != q("coreProperties", CORE_PROPERTIES):
            faults.add(part, "root", f"root element is {root.tag}")
            continue
        seen = set()
        for child in root:
            if child.tag in seen:
                faults.add(part, "repeated", f"{local(child.tag)} more than once")
            seen.add(child.tag)
            if namespace(child.tag) == DUBLIN_CORE_TERMS and local(child.tag) in ("created", "modified"):
                if child.get(q("type", SCHEMA_INSTANCE)) != "dcterms:W3CDTF" or \
                        not W3CDTF.fullmatch((child.text or "").strip()):
                    faults.add(part, "date", f"{local(child.tag)} {child.text!r} is no W3CDTF date")
    for _, _, part, _ in package.related("", TYPE_EXTENDED):
        root = parse_xml(package.zip, part, faults)
        if root is None:
            continue
        if root.tag != q("Properties", EXTENDED_PROPERTIES):
            faults.add(part, "root", f"root element is {root.tag}")
            continue
        for vector in root.iter(q("vector", DOC_PROPS_TYPES)):
            if integer_of(vector.get("size")) != len(vector):
                faults.add(part, "vector", f"a vector of size {vector.get('size')!r} holds {len(vector)} items")


def check_other_xml(package, checked):
    """Every other XML part is at least well-formed UTF-8."""
    for name in package.parts.values():
        content_type = package.content_type(name) or ""
        if name in checked or name.lower().endswith(".rels") or name == "[Content_Types].xml":
            continue
        if content_type.endswith("xml") or content_type.endswith("vmlDrawing"):
            parse_xml(package.zip, name, package.faults)


# ---- the whole package


def check_package(path):
    """The faults of the package at `path`, as "part: what" lines; empty when it is sound."""
    faults = Faults()
    try:
        archive = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, OSError) as error:
        return [f"zip: cannot be opened: {error}"]
    with archive:
        check_zip(path, archive, faults)
        package = Package(archive, faults)
        check_content_types(package)
        check_relationships(package)
        facts = WorkbookFacts()
        workbook_part = check_workbook(package, facts)
        if workbook_part:
            check_styles(package, workbook_part, facts)
            check_shared_strings(package, workbook_part, facts)
            check_worksheets(package, workbook_part, facts)
        check_properties(package)
        checked = {workbook_part} | {part for _, part, _ in facts.sheets}
        for source in package.relationships:
            for _, relationship_type, target, _ in package.relationships[source]:
                if relationship_type in (TYPE_STYLES, TYPE_SHARED_STRINGS, TYPE_COMMENTS, TYPE_VML_DRAWING,
                                         TYPE_CORE, TYPE_EXTENDED):
                    checked.add(target)
        check_other_xml(package, checked)
        # Parts no check read are read here, so that every CRC is checked.
        for name in package.parts.values():
            if not (package.content_type(name) or "").endswith(("xml", "vmlDrawing")):
                read_part(archive, name, faults)
    return faults.result()


def main(arguments):
    if not arguments or arguments[0] in ("-h", "--help"):
        print(__doc__)
        return 2
    status = 0
    for path in arguments:
        for line in check_package(path):
            print(f"{path}: {line}")
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
