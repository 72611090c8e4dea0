#include "audio_io/id3_tags.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

namespace sonteva {

namespace {

// TagLib parses a tag only out of a file: this one is a byte buffer.
class MemoryFile : public TagLib::File {
public:
    explicit MemoryFile(TagLib::IOStream* stream) : TagLib::File(stream) {}
    TagLib::Tag* tag() const override { return nullptr; }
    TagLib::AudioProperties* audioProperties() const override { return nullptr; }
    bool save() override { return false; }
};

TagLib::ByteVector byteVector(const std::vector<uint8_t>& bytes) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned>(bytes.size()));
}

std::vector<uint8_t> bytesOf(const TagLib::ByteVector& v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

// Calls `use` with the parsed tag (an empty one for no bytes).
template <typename Use> void withTag(const std::vector<uint8_t>& bytes, Use&& use) {
    if (bytes.empty()) {
        TagLib::ID3v2::Tag tag;
        use(tag);
        return;
    }
    TagLib::ByteVector data = byteVector(bytes);
    TagLib::ByteVectorStream stream(data);
    MemoryFile file(&stream);
    TagLib::ID3v2::Tag tag(&file, 0);
    use(tag);
}

} // namespace

Id3Contents readId3(const std::vector<uint8_t>& bytes) {
    Id3Contents out;
    if (bytes.empty()) return out;
    withTag(bytes, [&](TagLib::ID3v2::Tag& tag) {
        const TagLib::PropertyMap map = tag.properties();
        for (const auto& [key, values] : map)
            for (const auto& value : values)
                out.properties.emplace_back(key.to8Bit(true), value.to8Bit(true));
        for (const auto& frame : map.unsupportedData())
            if (!frame.startsWith("APIC")) out.unsupported.push_back(frame.to8Bit(true));
        for (const auto* frame : tag.frameList("APIC")) {
            const auto* apic = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
            if (!apic) continue;
            TagLib::FLAC::Picture picture;
            picture.setType(static_cast<TagLib::FLAC::Picture::Type>(apic->type()));
            picture.setMimeType(apic->mimeType());
            picture.setDescription(apic->description());
            picture.setData(apic->picture());
            out.pictures.push_back(bytesOf(picture.render()));
        }
    });
    return out;
}

std::vector<uint8_t> renderId3(const std::vector<uint8_t>& base, const TextTags& add,
                               const std::vector<std::vector<uint8_t>>& pictures,
                               std::vector<std::string>& rejected) {
    std::vector<uint8_t> out;
    withTag(base, [&](TagLib::ID3v2::Tag& tag) {
        TagLib::PropertyMap map = tag.properties();
        const TagLib::PropertyMap existing = map;
        for (const auto& [key, value] : add) {
            const TagLib::String k(key, TagLib::String::UTF8);
            if (!existing.contains(k.upper()))
                map[k.upper()].append(TagLib::String(value, TagLib::String::UTF8));
        }
        for (const auto& [key, values] : tag.setProperties(map))
            if (!existing.contains(key)) rejected.push_back(key.to8Bit(true));
        for (const auto& body : pictures) {
            const TagLib::FLAC::Picture picture(byteVector(body));
            auto* apic = new TagLib::ID3v2::AttachedPictureFrame;
            apic->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(picture.type()));
            apic->setMimeType(picture.mimeType());
            apic->setDescription(picture.description());
            apic->setPicture(picture.data());
            apic->setTextEncoding(TagLib::String::UTF8);
            tag.addFrame(apic); // the tag owns it
        }
        out = bytesOf(tag.render());
    });
    return out;
}

std::vector<uint8_t> evenId3(std::vector<uint8_t> tag) {
    if (tag.size() % 2 == 0 || tag.size() < 10 || tag[0] != 'I' || tag[1] != 'D' || tag[2] != '3')
        return tag;
    uint32_t size = 0; // syncsafe: seven bits a byte
    for (size_t i = 6; i < 10; ++i) {
        if (tag[i] & 0x80) return tag;
        size = size << 7 | tag[i];
    }
    // A footer leaves no room for padding, and an ID3v2.3 extended header states its size.
    const bool fixed = tag[5] & 0x50;
    if (fixed || size + 10 > tag.size() || size + 1 >= (1u << 28)) return tag;
    if (size + 10 == tag.size()) {
        ++size; // one more byte of padding, inside the tag
        for (size_t i = 9; i >= 6; --i, size >>= 7)
            tag[i] = uint8_t(size & 0x7F);
    }
    tag.push_back(0); // bytes after the tag are ignored by its readers
    return tag;
}

} // namespace sonteva
