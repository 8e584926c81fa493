#include "spreadsheet/detail/xml_reader.h"

#include <expat.h>

#include <cstring>
#include <memory>
#include <vector>

namespace spreadsheet::detail {

namespace {

std::string_view localPart(const char* name) {
    const char* separator = std::strchr(name, XmlNamespaceSeparator);
    return separator ? std::string_view(separator + 1) : std::string_view(name);
}

struct ParseContext {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    std::string partName;
    XmlLimits limits;
    int depth = 0;
    std::size_t textBytes = 0;
    std::vector<XmlAttribute> attributes;  // of the start tag being reported
    std::optional<Error> error;

    void stop(Error failure) {
        if (!error) error = std::move(failure);
        XML_StopParser(parser, XML_FALSE);
    }
    std::string where() const {
        return partName + " line " + std::to_string(XML_GetCurrentLineNumber(parser)) + " column " +
               std::to_string(XML_GetCurrentColumnNumber(parser));
    }
    void checkHandler() {
        if (handler->failure() && !error) stop(*handler->failure());
    }
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& context = *static_cast<ParseContext*>(data);
    if (context.error) return;
    if (++context.depth > context.limits.maxDepth) {
        context.stop(Error(ErrorCode::XmlLimit, context.where() + ": elements nested deeper than " +
                                                    std::to_string(context.limits.maxDepth) +
                                                    " levels (XML depth limit)"));
        return;
    }
    context.attributes.clear();
    for (const XML_Char** pair = attributes; *pair; pair += 2) {
        const std::string_view value(pair[1]);
        if (value.size() > context.limits.maxTextBytes) {
            context.stop(
                Error(ErrorCode::XmlLimit, context.where() + ": attribute longer than " +
                                               std::to_string(context.limits.maxTextBytes) +
                                               " bytes (XML text length limit)"));
            return;
        }
        const char* separator = std::strchr(pair[0], XmlNamespaceSeparator);
        XmlAttribute attribute;
        attribute.value = value;
        if (separator) {
            attribute.namespaceUri =
                std::string_view(pair[0], static_cast<std::size_t>(separator - pair[0]));
            attribute.localName = std::string_view(separator + 1);
        } else {
            attribute.localName = std::string_view(pair[0]);
        }
        context.attributes.push_back(attribute);
    }
    context.textBytes = 0;
    context.handler->startElement(
        localPart(name), XmlAttributes(context.attributes.data(), context.attributes.size()));
    context.checkHandler();
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
    auto& context = *static_cast<ParseContext*>(data);
    if (context.error) return;
    --context.depth;
    context.textBytes = 0;
    context.handler->endElement(localPart(name));
    context.checkHandler();
}

void XMLCALL onCharacters(void* data, const XML_Char* text, int length) {
    auto& context = *static_cast<ParseContext*>(data);
    if (context.error || !context.handler->collectingText()) return;
    context.textBytes += static_cast<std::size_t>(length);
    if (context.textBytes > context.limits.maxTextBytes) {
        context.stop(Error(ErrorCode::XmlLimit, context.where() + ": text longer than " +
                                                    std::to_string(context.limits.maxTextBytes) +
                                                    " bytes (XML text length limit)"));
        return;
    }
    context.handler->characters(std::string_view(text, static_cast<std::size_t>(length)));
    context.checkHandler();
}

// Package parts never carry a document type; one is how entity-expansion bombs arrive.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto& context = *static_cast<ParseContext*>(data);
    context.stop(
        Error(ErrorCode::XmlForbidden,
              context.where() + ": a DOCTYPE declaration is not allowed in a package part"));
}

void XMLCALL onEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
    auto& context = *static_cast<ParseContext*>(data);
    context.stop(
        Error(ErrorCode::XmlForbidden,
              context.where() + ": an entity declaration is not allowed in a package part"));
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

}  // namespace

std::optional<std::string_view> XmlAttributes::getNamespaced(std::string_view namespaceSuffix,
                                                             std::string_view localName) const {
    for (std::size_t index = 0; index < m_count; ++index) {
        const XmlAttribute& attribute = m_items[index];
        if (attribute.namespaceUri.empty() || attribute.localName != localName) continue;
        if (attribute.namespaceUri.size() >= namespaceSuffix.size() &&
            attribute.namespaceUri.substr(attribute.namespaceUri.size() - namespaceSuffix.size()) ==
                namespaceSuffix)
            return attribute.value;
    }
    return std::nullopt;
}

Result<void> parseXmlWithExpat(XmlHandler& handler, std::string_view partName,
                               const XmlSource& source, XmlLimits limits,
                               std::string_view alreadyRead) {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(
        XML_ParserCreateNS(nullptr, XmlNamespaceSeparator));
    if (!parser) return Error(ErrorCode::OperationFailed, "cannot create an XML parser");
    ParseContext context;
    context.parser = parser.get();
    context.handler = &handler;
    context.partName = std::string(partName);
    context.limits = limits;
    XML_SetUserData(parser.get(), &context);
    XML_SetElementHandler(parser.get(), onStart, onEnd);
    XML_SetCharacterDataHandler(parser.get(), onCharacters);
    XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
    XML_SetEntityDeclHandler(parser.get(), onEntityDeclaration);

    // The outcome of one call to expat: the first error of the handler or of the parse.
    auto checked = [&](XML_Status status) -> Result<void> {
        if (context.error) return *context.error;
        if (status == XML_STATUS_OK) return {};
        const XML_Error code = XML_GetErrorCode(parser.get());
        // expat's own entity amplification guard reports as an entity error.
        const ErrorCode ours = code == XML_ERROR_AMPLIFICATION_LIMIT_BREACH
                                   ? ErrorCode::XmlLimit
                                   : ErrorCode::XmlMalformed;
        return Error(ours, context.where() + ": " + XML_ErrorString(code));
    };
    if (!alreadyRead.empty()) {
        Result<void> parsed = checked(XML_Parse(parser.get(), alreadyRead.data(),
                                                static_cast<int>(alreadyRead.size()), XML_FALSE));
        if (!parsed) return parsed;
    }
    constexpr std::size_t ChunkSize = 64 * 1024;
    for (;;) {
        void* buffer = XML_GetBuffer(parser.get(), static_cast<int>(ChunkSize));
        if (!buffer)
            return Error(ErrorCode::XmlLimit, std::string(partName) + ": out of parser memory");
        Result<std::size_t> got = source(static_cast<char*>(buffer), ChunkSize);
        if (!got) return got.error();
        const bool last = *got == 0;
        Result<void> parsed = checked(
            XML_ParseBuffer(parser.get(), static_cast<int>(*got), last ? XML_TRUE : XML_FALSE));
        if (!parsed || last) return parsed;
    }
}

Result<void> parseXml(XmlHandler& handler, std::string_view partName, const XmlSource& source,
                      XmlLimits limits) {
    std::string alreadyRead;
    if (std::optional<Result<void>> scanned =
            scanXml(handler, partName, source, limits, alreadyRead))
        return *scanned;
    return parseXmlWithExpat(handler, partName, source, limits, alreadyRead);
}

Result<void> parseXml(XmlHandler& handler, std::string_view partName, std::string_view text,
                      XmlLimits limits) {
    std::size_t position = 0;
    XmlSource source = [&](char* out, std::size_t capacity) -> Result<std::size_t> {
        const std::size_t length = std::min(capacity, text.size() - position);
        std::memcpy(out, text.data() + position, length);
        position += length;
        return length;
    };
    return parseXml(handler, partName, source, limits);
}

}  // namespace spreadsheet::detail
