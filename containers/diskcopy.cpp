// DiskCopy 4.2 images: an 84-byte header (the disk's name, the lengths and
// checksums of the sector data and of the tag bytes, the disk's format), the
// sectors, then the tags, which only Lisa software read and are ignored here.
//
// The image is opened as the volume it holds: open() opens the sectors, a
// range of the image, with the MFS, HFS or partition map format itself and
// gives that volume's members as the image's own.  A person sees
// "MacWrite 4.5.image/Sample Memo", not a level of folders for a volume that
// an image always holds exactly one of.
#include <vector>

#include "containers/disk_volume.h"
#include "containers/formats.h"
#include "containers/source.h"

namespace containers {

namespace {

using disk::be16;
using disk::be32;

constexpr size_t kHeader = 84;
constexpr uint16_t kPrivate = 0x0100;  // the header's fixed field at 82

// The sum DiskCopy keeps of the sectors: each big-endian 16-bit word added,
// the total rotated right by one bit after each.
uint32_t checksum(const Source &data) {
    std::vector<uint8_t> buffer(1 << 16);
    uint32_t sum = 0;
    for (uint64_t at = 0; at < data.size(); at += buffer.size()) {
        const size_t got = data.read_at(at, buffer.data(), buffer.size());
        if (got == 0) break;
        for (size_t i = 0; i + 1 < got; i += 2) {
            sum += be16(&buffer[i]);
            sum = sum >> 1 | sum << 31;
        }
    }
    return sum;
}

class DiskCopyImage final : public Container {
public:
    DiskCopyImage(std::unique_ptr<Container> volume, std::string warning)
        : volume_(std::move(volume)), warning_(std::move(warning)) {}

    bool next(Member &member) override {
        if (!volume_->next(member)) return false;
        if (!warning_.empty() && member.warning.empty()) member.warning = warning_;
        return true;
    }
    std::unique_ptr<Source> data() override { return volume_->data(); }

private:
    std::unique_ptr<Container> volume_;
    std::string warning_;
};

int bid(const Source &source, const uint8_t *head, size_t length) {
    // The disk format byte is 0-3 for the floppies; images of larger disks
    // carry 0xFF.
    if (length < kHeader || head[0] > 63 || be16(head + 82) != kPrivate || (head[80] > 3 && head[80] != 0xFF)) return 0;
    const uint64_t data = be32(head + 64), tags = be32(head + 68);
    if (data == 0 || data % 512 != 0 || kHeader + data + tags > source.size()) return 0;
    return 90;
}

std::unique_ptr<Container> open(std::shared_ptr<const Source> source) {
    uint8_t header[kHeader];
    read_exact(*source, 0, header, sizeof header, Grade::kFatal, "the DiskCopy header");
    std::shared_ptr<const Source> sectors = range(source, kHeader, be32(header + 64));
    if (sectors->size() != be32(header + 64)) throw Error(Grade::kFatal, "the DiskCopy image is cut short");
    // A bad checksum is reported on every member but does not stop the
    // reading: a damaged image often still holds intact documents.
    std::string warning;
    if (checksum(*sectors) != be32(header + 72))
        warning = "the DiskCopy image's checksum does not match its sectors: the image is damaged";
    auto volume = disk::open_volume(sectors);
    if (volume == nullptr) throw Error(Grade::kFatal, "the DiskCopy image holds no MFS or HFS volume");
    return std::make_unique<DiskCopyImage>(std::move(volume), std::move(warning));
}

}  // namespace

const Format &diskcopy_format() {
    static const Format format{"DiskCopy 4.2 image", bid, open};
    return format;
}

}  // namespace containers
