// The Python module's native half: the cores behind plain functions that
// take and give bytes, strings, tuples and numpy arrays. The Python half
// (smfasm/__init__.py) turns these into the package's classes, exceptions
// and warnings.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "api/convert.h"
#include "api/event_table.h"
#include "score/song.h"

namespace py = pybind11;

namespace {

struct bytes_view {
    const unsigned char* data;
    std::size_t size;
};

// Any contiguous buffer of bytes: bytes, bytearray, memoryview, a numpy
// array of uint8.
bytes_view view_of(const py::buffer_info& info) {
    if (info.itemsize != 1 || info.ndim > 1 ||
        (info.ndim == 1 && !info.strides.empty() && info.strides[0] != 1 && info.size > 1)) {
        throw py::type_error("expected the file's bytes (bytes, bytearray, or a contiguous buffer of bytes)");
    }
    return {static_cast<const unsigned char*>(info.ptr), static_cast<std::size_t>(info.size)};
}

// A column handed to numpy without a copy: the array owns the vector.
template <class T, class Allocator>
py::array_t<T> column(std::vector<T, Allocator>&& values) {
    auto* owner = new std::vector<T, Allocator>(std::move(values));
    const py::capsule free_owner(owner, [](void* p) { delete static_cast<std::vector<T, Allocator>*>(p); });
    return py::array_t<T>(static_cast<py::ssize_t>(owner->size()), owner->data(), free_owner);
}

// What one file gives: its table, or why it has none.
struct decoded {
    smfasm::event_table table;
    std::string error;
    std::size_t offset = 0;
    bool failed = false;
};

void decode(const unsigned char* data, std::size_t size, decoded& out) {
    smfasm::score::song song;
    const smfasm::score::song_error error = smfasm::score::decode_song(data, size, song);
    if (error) {
        out.failed = true;
        out.error = error.text;
        out.offset = error.offset;
        return;
    }
    smfasm::table_from_song(song, out.table);
}

py::tuple as_python(decoded&& d) {
    if (d.failed) return py::make_tuple(false, d.error, d.offset);
    smfasm::event_table& t = d.table;
    py::dict c;
    c["track"] = column(std::move(t.track));
    c["tick"] = column(std::move(t.tick));
    c["bar"] = column(std::move(t.bar));
    c["beat"] = column(std::move(t.beat));
    c["beat_tick"] = column(std::move(t.beat_tick));
    c["kind"] = column(std::move(t.kind));
    c["channel"] = column(std::move(t.channel));
    c["data1"] = column(std::move(t.data1));
    c["data2"] = column(std::move(t.data2));
    c["note_length"] = column(std::move(t.note_length));
    c["partner"] = column(std::move(t.partner));
    c["running"] = column(std::move(t.running));
    c["status_mark"] = column(std::move(t.status_mark));
    c["end_position"] = column(std::move(t.end_position));
    c["offset"] = column(std::move(t.offset));
    c["length"] = column(std::move(t.length));
    py::dict tracks;
    tracks["length"] = column(std::move(t.track_length));
    tracks["end_velocity"] = column(std::move(t.end_velocity));
    tracks["running"] = column(std::move(t.running_mask));
    tracks["carry"] = column(std::move(t.carry));
    tracks["reverse"] = column(std::move(t.reverse));
    const py::tuple header =
        py::make_tuple(t.format, t.track_count, t.division, t.header_length,
                       py::bytes(reinterpret_cast<const char*>(t.header_extra.data()), t.header_extra.size()));
    const py::bytes blob(reinterpret_cast<const char*>(t.blob.data()), t.blob.size());
    return py::make_tuple(true, header, c, tracks, blob);
}

py::tuple events(const py::buffer& buffer) {
    const py::buffer_info info = buffer.request();
    const bytes_view data = view_of(info);
    decoded d;
    {
        const py::gil_scoped_release unlocked;
        decode(data.data, data.size, d);
    }
    return as_python(std::move(d));
}

// Reads a whole file through its descriptor; an empty string on success.
std::string read_file(const std::string& path, std::vector<unsigned char>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return std::strerror(EISDIR);
    }
    bytes.clear();
    if (info.st_size > 0) bytes.reserve(static_cast<std::size_t>(info.st_size));
    unsigned char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return std::strerror(error);
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), block, block + got);
    }
    ::close(fd);
    return {};
}

// Many files at once: native threads, the interpreter's lock released
// until the tables are handed over. A file that cannot be read or decoded
// gives its error and stops nothing else.
py::list read_files(const std::vector<std::string>& paths, unsigned workers) {
    std::vector<decoded> results(paths.size());
    {
        const py::gil_scoped_release unlocked;
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            std::vector<unsigned char> bytes;
            for (std::size_t i = next++; i < paths.size(); i = next++) {
                const std::string error = read_file(paths[i], bytes);
                if (!error.empty()) {
                    results[i].failed = true;
                    results[i].error = "cannot read the file: " + error;
                    continue;
                }
                decode(bytes.data(), bytes.size(), results[i]);
            }
        };
        if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
        workers = static_cast<unsigned>(std::min<std::size_t>(workers, paths.size()));
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
        work();
        for (std::thread& t : threads) t.join();
    }
    py::list out;
    for (decoded& d : results) out.append(as_python(std::move(d)));
    return out;
}

template <class T>
using column_in = py::array_t<T, py::array::c_style | py::array::forcecast>;

py::bytes from_events(const py::tuple& header, const column_in<std::int64_t>& track_length,
                      const column_in<std::int32_t>& track, const column_in<std::int64_t>& tick,
                      const column_in<std::uint8_t>& kind, const column_in<std::int8_t>& channel,
                      const column_in<std::uint8_t>& data1, const column_in<std::uint8_t>& data2,
                      const column_in<std::uint8_t>& running, const column_in<std::int64_t>& offset,
                      const column_in<std::int64_t>& length, const py::buffer& blob) {
    smfasm::event_columns c;
    if (header.size() != 5) throw py::value_error("the header is (format, track_count, division, length, extra)");
    c.format = header[0].cast<std::int32_t>();
    c.track_count = header[1].cast<std::int32_t>();
    c.division = header[2].cast<std::int32_t>();
    c.header_length = header[3].cast<std::int64_t>();
    const py::buffer extra_buffer = header[4].cast<py::buffer>();
    const py::buffer_info extra_info = extra_buffer.request();
    const bytes_view extra = view_of(extra_info);
    c.header_extra = extra.data;
    c.header_extra_size = extra.size;
    c.tracks = static_cast<std::size_t>(track_length.size());
    c.track_length = track_length.data();
    c.rows = static_cast<std::size_t>(track.size());
    for (const py::ssize_t size : {tick.size(), kind.size(), channel.size(), data1.size(), data2.size(), running.size(),
                                   offset.size(), length.size()}) {
        if (static_cast<std::size_t>(size) != c.rows) throw py::value_error("the table's columns differ in length");
    }
    c.track = track.data();
    c.tick = tick.data();
    c.kind = kind.data();
    c.channel = channel.data();
    c.data1 = data1.data();
    c.data2 = data2.data();
    c.running = running.data();
    c.offset = offset.data();
    c.length = length.data();
    const py::buffer_info blob_info = blob.request();
    const bytes_view blob_bytes = view_of(blob_info);
    c.blob = blob_bytes.data;
    c.blob_size = blob_bytes.size;
    std::vector<unsigned char> out;
    std::string error;
    {
        const py::gil_scoped_release unlocked;
        error = smfasm::write_table(c, out);
    }
    if (!error.empty()) throw py::value_error(error);
    return {reinterpret_cast<const char*>(out.data()), out.size()};
}

// The lister is not reentrant: it runs under the interpreter's lock, which
// is never released here.
py::tuple list_file(const py::buffer& buffer, bool score, int fold_width, int note_names, int measure_mode,
                    bool merge_sysex, bool long_formats) {
    const py::buffer_info info = buffer.request();
    const bytes_view data = view_of(info);
    smfasm::lister_options options;
    options.score = score;
    options.fold_width = fold_width;
    options.note_names = note_names;
    options.measure_mode = measure_mode;
    options.merge_sysex = merge_sysex ? 1 : 0;
    options.long_formats = long_formats;
    smfasm::listing_result listed = smfasm::list_bytes(data.data, data.size, options);
    // Input that is no MIDI file says what it is instead of the lister's
    // "Garbage at end".
    const std::string& said = listed.not_midi.empty() ? listed.messages : listed.not_midi + "\n";
    return py::make_tuple(py::str(listed.text), py::str(said), listed.status);
}

py::tuple assemble_listing(const py::buffer& buffer, bool strict, bool packets, bool running_status) {
    const py::buffer_info info = buffer.request();
    const bytes_view text = view_of(info);
    smfasm::assembly_options options;
    options.strict = strict;
    options.packets = packets;
    options.running_status = running_status;
    // Kept under the interpreter's lock too: one conversion at a time.
    const smfasm::assembly_result result = smfasm::assemble_text(
        std::string_view(reinterpret_cast<const char*>(text.data), text.size), options, "listing");
    py::list messages;
    for (const smfasm::assembly_message& m : result.messages) {
        messages.append(py::make_tuple(m.line, m.column, m.warning ? "warning" : "error", m.text));
    }
    const py::object bytes =
        result.errors == 0
            ? py::object(py::bytes(reinterpret_cast<const char*>(result.bytes.data()), result.bytes.size()))
            : py::object(py::none());
    return py::make_tuple(bytes, messages, result.errors);
}

}  // namespace

PYBIND11_MODULE(_smfasm, m) {
    m.doc() = "The native half of smfasm: the cores behind plain functions.";
    m.def("events", &events, py::arg("data"));
    m.def("read_files", &read_files, py::arg("paths"), py::arg("workers"));
    m.def("from_events", &from_events);
    m.def("list_file", &list_file);
    m.def("assemble_listing", &assemble_listing);
}
