// libmwconv: MacWrite documents converted, identified and found in
// containers, as the mwconv command does it, for other programs.
//
// A Library holds the loaded converter plug-in and nothing else that
// changes: one Library may be used from several threads at once, and every
// call stands alone.  Failures are thrown as mwconv::Error, whose message is
// the one the command prints ("mwconv: NAME: problem") and whose status is
// the command's exit status.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mwconv {

// Exit statuses of the command, and what a conversion's failure was.
// kDamaged: converted, but the document is damaged and what could not be
// read is missing.
enum Status { kOk = 0, kBadUsage = 1, kNotADocument = 2, kFailed = 3, kDamaged = 4 };

// Which of two statuses a run of several ends with: a failure outweighs a
// document that was not one, which outweighs a damaged one.
inline Status worse(Status a, Status b) {
    auto rank = [](Status s) { return s == kDamaged ? 1 : s == kOk ? 0 : static_cast<int>(s) + 1; };
    return rank(a) >= rank(b) ? a : b;
}

enum class From { Auto, MacWriteII, MacWrite5, MacWrite22, Stream, Text };
enum class To { Text, Markdown, Html, Rtf, Docx, Odt, Stream, MacWrite5, Pdf };

struct ConvertOptions {
    From from = From::Auto;
    To to = To::Text;
    bool macbinary = false;  // a MacWrite 4.6/5 output wrapped in MacBinary II
    bool fragment = false;   // HTML: the body's content alone
};

// What a run over files and containers needs beyond a conversion's options:
// the command's -o, --extract-media, --force and --json.
struct RunOptions : ConvertOptions {
    std::string output = "-";
    std::string media_dir;  // where pictures are written; empty: nowhere
    bool force = false;     // a run may replace files it did not write
    bool json = false;      // --identify prints JSON
    std::string member;     // a container: only the member of this path (as --identify names it); empty: all
};

// What became of one member of a container converted as a folder.
struct MemberOutcome {
    // kOther: a member that is no MacWrite document; kAlone: the same, the
    // one file of a wrapper (a .bin of a picture), told as a bare file is;
    // kDamaged: converted, but what could not be read is missing.
    enum Kind { kConverted, kDamaged, kOther, kAlone, kFailed, kNote } kind;
    Status status = kOk;
    std::string message;  // "mwconv: ...", without a line end; empty for none
};

// A container converted: every member's outcome, and whether it held more
// than one wrapped file (walked as a folder, counted as a container).
struct ContainerRun {
    std::vector<MemberOutcome> members;
    bool folder_like = false;
    bool written = false;  // convert_wrapped: its document converted into the stream
};

// What a document is called in messages and titles, and where its pictures
// go; all optional.
struct Naming {
    std::string name;       // empty: as the command's standard input ("Untitled")
    std::string media_dir;  // --extract-media's folder; empty: pictures stay inline
    std::optional<int64_t> created, modified;  // the Finder's dates (Unix seconds)
};

class Error : public std::runtime_error {
public:
    Error(Status status, const std::string &message) : std::runtime_error(message), status_(status) {}
    Status status() const { return status_; }

private:
    Status status_;
};

// One member of a container, as the command's --identify walks it.
struct MemberInfo {
    std::string path;              // as messages show it: "disk/Folder/Letter"
    std::string container;         // the format of the container it lies in
    std::string type, creator;     // the Finder's, when the container keeps them
    uint64_t size = 0;             // data fork bytes
    std::string problem;           // why its data cannot be read; empty when it can
};

class Plugin;

class Library {
public:
    // Loads the plug-in at `plugin_path`, or from the command's places
    // (beside the program, the install tree) when it is empty.
    explicit Library(const std::string &plugin_path = {});
    ~Library();
    Library(Library &&) noexcept;
    Library &operator=(Library &&) noexcept;

    // The plug-in file loaded.
    const std::string &plugin_path() const { return path_; }

    // The document in `data` converted; the output's bytes.  A damaged
    // document converts with what could be read (the command's status 4):
    // `damaged`, when given, receives the command's message, else is emptied.
    std::string convert(std::string_view data, const ConvertOptions &options, const Naming &naming = {},
                        std::string *damaged = nullptr) const;
    // The same for the document open in `in` (seekable, at its start),
    // written into `out`; neither stream is closed.
    void convert_stream(std::FILE *in, std::FILE *out, const ConvertOptions &options, const Naming &naming = {},
                        std::string *damaged = nullptr) const;
    // The file at `input` converted into the file at `output` ("-": standard
    // output), replaced only when the conversion succeeded (damaged or not).
    void convert_file(const std::string &input, const std::string &output, const ConvertOptions &options,
                      const std::string &media_dir = {}, std::string *damaged = nullptr) const;

    // The container at `path` converted into `folder` as the command's -o
    // converts it (its folders mirrored, the format's extension added;
    // `options.output`, the run's folder, places media folders); nothing
    // when the file is no container.
    std::optional<ContainerRun> convert_container(const std::string &path, const std::string &folder,
                                                  const RunOptions &options) const;
    // The same for a file open in `in` (left open), whose members' messages
    // name it `name` ("Disk.image/Folder/Letter").
    std::optional<ContainerRun> convert_container(std::FILE *in, const std::string &name, const std::string &folder,
                                                  const RunOptions &options) const;
    // The same for a container that wraps one file (a .hqx or .bin of one
    // document), with no member or media folder asked for: that document
    // converted into `out` rather than into a folder; nothing, with nothing
    // written, for any other file.
    std::optional<ContainerRun> convert_wrapped(std::FILE *in, const std::string &name, std::FILE *out,
                                                const RunOptions &options) const;

    // What `--identify --json` prints for a file or for bytes (its "file"
    // field `name`), as JSON text.
    std::string identify_file(const std::string &path) const;
    std::string identify(std::string_view data, const std::string &name) const;
    // Every line that `--identify --json` prints for the file open in `in`
    // (left open), named `name`: one for a document or another file, one
    // per member for a container.  `status`, when given, receives the
    // command's exit status for it.
    std::vector<std::string> identify_lines(std::FILE *in, const std::string &name, Status *status = nullptr) const;

    // The members of the container at `path`, nested containers walked; an
    // empty list for a file that is no container.
    std::vector<MemberInfo> members(const std::string &path) const;

    // The plug-in as the command's own files use it.
    const Plugin &plugin() const { return *plugin_; }

private:
    std::unique_ptr<Plugin> plugin_;
    std::string path_;
};

// A thread that converts keeps its scratch files for its next conversion,
// as making files costs more than emptying them.  A scratch stream's file
// is emptied when the stream closes; empty_thread_scratch empties the rest
// (the named file an import writes), so that nothing of the conversions the
// thread ran stays on disk while it keeps the files open (a service whose
// uploads must not outlive their requests calls it after each request).
// release_thread_scratch closes and removes them, so that the thread holds
// no descriptor for them (a service calls it when a connection ends).
void empty_thread_scratch();
void release_thread_scratch();

// The conversion names of the command's --from and --to ("html", "macwrite5").
std::optional<From> from_name(std::string_view name);
std::optional<To> to_name(std::string_view name);

const char *version();

// The extension given to an output named after its input ("html", "mw5").
const char *output_extension(To to);

}  // namespace mwconv
