#include "Language.h"

#include <cstdlib>

namespace language {

namespace {

// "pl_PL.UTF-8@euro", "pl-PL", "pl": the language code in lower case.
std::string CodeOf(const std::string& tag) {
    std::string code;
    for (const char c : tag) {
        if (c == '_' || c == '-' || c == '.' || c == '@') break;
        code += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return code;
}

}  // namespace

Language Preferred(const std::vector<std::string>& wanted) {
    for (const std::string& tag : wanted) {
        const std::string code = CodeOf(tag);
        if (code == "pl") return Language::Polish;
        if (code == "en") return Language::English;
    }
    return Language::None;
}

std::vector<std::string> FromEnvironment() {
    std::vector<std::string> wanted;
    const char* list = std::getenv("LANGUAGE");
    if (list != nullptr && *list != '\0') {
        std::string item;
        for (const char* c = list;; ++c) {
            if (*c == ':' || *c == '\0') {
                if (!item.empty()) wanted.push_back(item);
                item.clear();
                if (*c == '\0') break;
            } else {
                item += *c;
            }
        }
        return wanted;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return {value};
    }
    return wanted;
}

}  // namespace language
