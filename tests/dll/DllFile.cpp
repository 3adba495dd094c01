#include "DllFile.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

struct Image {
    std::vector<uint8_t> bytes;
    const IMAGE_NT_HEADERS64* nt = nullptr;

    // File offset of a relative virtual address, through the section table; 0 when outside every section.
    size_t Offset(uint32_t rva) const {
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            const uint32_t size = section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData;
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    template <typename T>
    const T* At(uint32_t rva) const {
        const size_t offset = Offset(rva);
        if (!offset || offset + sizeof(T) > bytes.size()) return nullptr;
        return reinterpret_cast<const T*>(bytes.data() + offset);
    }
    std::string String(uint32_t rva) const {
        const size_t offset = Offset(rva);
        if (!offset || offset >= bytes.size()) return {};
        const char* p = reinterpret_cast<const char*>(bytes.data() + offset);
        return std::string(p, strnlen(p, bytes.size() - offset));
    }
};

}  // namespace

PeTables ReadPeTables(const std::string& path) {
    PeTables tables;
    Image image;
    std::ifstream file(path, std::ios::binary);
    image.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (image.bytes.size() < sizeof(IMAGE_DOS_HEADER)) return tables;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.bytes.data());
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > image.bytes.size())
        return tables;
    image.nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.bytes.data() + dos->e_lfanew);
    if (image.nt->Signature != IMAGE_NT_SIGNATURE ||
        image.nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return tables;

    const auto& exportDir = image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (const auto* ed = image.At<IMAGE_EXPORT_DIRECTORY>(exportDir.VirtualAddress)) {
        for (uint32_t i = 0; i < ed->NumberOfNames; ++i) {
            const auto* nameRva = image.At<uint32_t>(ed->AddressOfNames + 4 * i);
            const auto* index = image.At<uint16_t>(ed->AddressOfNameOrdinals + 2 * i);
            if (!nameRva || !index) return tables;
            const auto* function = image.At<uint32_t>(ed->AddressOfFunctions + 4 * *index);
            if (!function) return tables;
            tables.exports.push_back({image.String(*nameRva), ed->Base + *index, *function});
        }
    }
    const auto& importDir = image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (uint32_t rva = importDir.VirtualAddress; importDir.VirtualAddress; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto* desc = image.At<IMAGE_IMPORT_DESCRIPTOR>(rva);
        if (!desc || !desc->Name) break;
        tables.imports.push_back(image.String(desc->Name));
    }
    tables.ok = true;
    return tables;
}
