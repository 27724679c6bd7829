// Every container format mwconv reads, one file each, and recognition over
// them all.
#pragma once

#include "containers/container.h"

namespace containers {

const Format &macbinary_format();
const Format &binhex_format();
const Format &applesingle_format();   // AppleSingle; AppleDouble companions are joined by the walker
const Format &diskcopy_format();      // DiskCopy 4.2: the volume inside opened in turn
const Format &dart_format();          // DART: the volume inside opened in turn
const Format &ndif_format();          // NDIF: opened through a member's two forks (below)
const Format &udif_format();          // UDIF (.dmg): the disk inside walked, or its partitions
const Format &partition_map_format(); // Apple partition map: every Apple_HFS(X) partition; hybrid CDs
const Format &mfs_format();
const Format &hfs_format();           // raw HFS volumes, ISO 9660 / HFS hybrids through their HFS side
const Format &hfsplus_format();       // HFS Plus and HFSX, raw or inside an HFS wrapper
const Format &gpt_format();           // GUID partition tables: every partition that holds a volume
const Format &compact_pro_format();   // Compact Pro (.cpt): folders, both forks, RLE and LZH
const Format &stuffit_format();       // StuffIt 1.5-4.x and 5
const Format &libarchive_format();    // zip, tar (gz, bz2, xz), 7z, cpio, ISO 9660
const Format &refused_format();       // UDIF where built without its libraries: refused with a message

// NDIF images keep their chunk table in a 'bcem' resource: a member whose
// resource fork holds one is an NDIF image, opened from both forks, before
// its data fork is offered to the other formats.
bool is_ndif(const Source &resource);
// Whether the Finder's type or creator marks `member` as a Disk Copy 6 image:
// only then is its resource fork read for a chunk table.
bool has_ndif_type(const Member &member);
std::unique_ptr<Container> open_ndif(std::shared_ptr<const Source> data, std::shared_ptr<const Source> resource);

// The format that bids highest for `source`, or null when none bids.
const Format *recognise(const Source &source);

// Whether `format` wraps one file (MacBinary, BinHex, AppleSingle): its
// member stands in the wrapper's place and takes the wrapper's name, so that
// "Memo.hqx" converts to "Memo.hqx.txt" as a bare document would.
bool is_wrapper(const Format &format);

}  // namespace containers
