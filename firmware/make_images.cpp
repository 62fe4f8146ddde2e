// Writes the two stand-in upgrade images, zantor40.bin and zantor50.bin, into
// the folder given as the only argument. They have the layout of a real image
// (header, blocks, per-serial table) with deterministic filler in place of the
// reader's firmware, so the same program always writes the same bytes.
//
//   c++ -std=c++20 -O2 -o make_images firmware/make_images.cpp
//   ./make_images firmware

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kBlockSize = 520;
constexpr size_t kTableSize = 2080;

struct ImageLayout {
    const char* fileName;
    uint16_t typeCode;
    uint16_t version;
    uint16_t blockCount;
};

constexpr ImageLayout kImages[] = {
    {"zantor40.bin", 1064, 7, 14},
    {"zantor50.bin", 2098, 8, 16},
};

// xorshift32: filler that looks like data but repeats exactly from the seed.
class Filler {
public:
    explicit Filler(uint32_t seed) : state_(seed) {}
    uint8_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<uint8_t>(state_ >> 24);
    }

private:
    uint32_t state_;
};

std::vector<uint8_t> MakeImage(const ImageLayout& layout) {
    std::vector<uint8_t> image(kHeaderSize + kBlockSize * layout.blockCount + kTableSize);
    Filler filler(0x5A4E0000u | layout.typeCode);
    for (uint8_t& byte : image) byte = filler.Next();

    // The type code goes most significant byte first, the other words
    // little-endian; the word at offset 6 must be 0.
    image[0] = static_cast<uint8_t>(layout.typeCode >> 8);
    image[1] = static_cast<uint8_t>(layout.typeCode & 0xFF);
    image[2] = static_cast<uint8_t>(layout.version & 0xFF);
    image[3] = static_cast<uint8_t>(layout.version >> 8);
    image[4] = static_cast<uint8_t>(layout.blockCount & 0xFF);
    image[5] = static_cast<uint8_t>(layout.blockCount >> 8);
    image[6] = 0;
    image[7] = 0;
    // Header bytes 8 to 15 mark the file for anyone who looks at it.
    const char kMark[] = "STAND-IN";
    for (size_t i = 0; i < 8; ++i) image[8 + i] = static_cast<uint8_t>(kMark[i]);
    return image;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    for (const ImageLayout& layout : kImages) {
        const std::string path = std::string(argv[1]) + "/" + layout.fileName;
        const std::vector<uint8_t> image = MakeImage(layout);
        if (!WriteFile(path, image)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), image.size());
    }
    return 0;
}
