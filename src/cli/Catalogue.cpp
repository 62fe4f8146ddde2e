#include "Catalogue.h"

#include <cstdint>
#include <cstring>

extern const unsigned char kPolishCatalogue[];
extern const unsigned long kPolishCatalogueSize;

namespace cli {

namespace {

bool polish = false;

// A GNU MO file, little-endian as msgfmt writes it on the build machine: a
// header of 32-bit words (magic, revision, count, where the table of
// originals starts, where the table of translations starts), then for each
// string its length and offset. The originals are sorted by their bytes.
class MoFile {
public:
    MoFile(const unsigned char* bytes, unsigned long size) : bytes(bytes), size(size) {}

    const char* Find(const char* original) const {
        if (Word(0) != kMagic) return nullptr;
        uint32_t low = 0;
        uint32_t high = Word(8);
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            const char* key = String(Word(12), middle);
            if (key == nullptr) return nullptr;
            const int order = std::strcmp(original, key);
            if (order == 0) return String(Word(16), middle);
            if (order < 0) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return nullptr;
    }

private:
    static constexpr uint32_t kMagic = 0x950412DE;

    uint32_t Word(unsigned long at) const {
        if (at + 4 > size) return 0;
        return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
               static_cast<uint32_t>(bytes[at + 2]) << 16 |
               static_cast<uint32_t>(bytes[at + 3]) << 24;
    }
    // The string of entry i of the table at `table`, ended by the zero byte
    // that msgfmt puts after each.
    const char* String(uint32_t table, uint32_t i) const {
        const unsigned long entry = table + 8ul * i;
        const uint32_t length = Word(entry);
        const uint32_t offset = Word(entry + 4);
        if (offset >= size || length >= size - offset || bytes[offset + length] != 0) {
            return nullptr;
        }
        return reinterpret_cast<const char*>(bytes + offset);
    }

    const unsigned char* bytes;
    unsigned long size;
};

}  // namespace

void SetLanguage(language::Language wanted) { polish = wanted == language::Language::Polish; }

bool SpeaksPolish() { return polish; }

const char* Tr(const char* english) {
    if (!polish || *english == '\0') return english;
    const char* found = MoFile(kPolishCatalogue, kPolishCatalogueSize).Find(english);
    return found != nullptr && *found != '\0' ? found : english;
}

}  // namespace cli
