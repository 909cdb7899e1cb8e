#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace smfasm::test {

namespace fs = std::filesystem;

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "smfasm-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const bytes& data) const {
    std::ofstream(path_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void scratch_dir::write(const std::string& name, const std::string& text) const { write(name, text_bytes(text)); }

std::string scratch_dir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool scratch_dir::exists(const std::string& name) const {
    std::error_code ignored;
    return fs::symlink_status(path_ / name, ignored).type() != fs::file_type::not_found;
}

namespace {
std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
}  // namespace

start_gate::start_gate() {
    int ends[2];
    if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
    read_end_ = ends[0];
    write_end_ = ends[1];
}

start_gate::~start_gate() {
    open();
    close(read_end_);
}

void start_gate::open() {
    if (write_end_ >= 0) close(write_end_);
    write_end_ = -1;
}

void start_gate::wait_in_child() const {
    if (write_end_ >= 0) close(write_end_);
    char byte = 0;
    while (::read(read_end_, &byte, 1) > 0) {
    }
    close(read_end_);
}

started_run scratch_dir::start(const std::vector<std::string>& args, const run_options& options) const {
    // Captured outside the directory, so that the listing's directory holds
    // only what the program made; each run has files of its own.
    static int runs = 0;
    std::string suffix = ".";
    suffix += std::to_string(++runs);
    started_run started;
    started.err_file = path_.string() + suffix + ".err";
    started.out_file = path_.string() + suffix + ".out";
    started.links_dir = path_.string() + suffix + ".bin";
    started.pid = fork();
    if (started.pid != 0) return started;

    if (options.gate != nullptr) options.gate->wait_in_child();
    if (chdir(path_.c_str()) != 0) _exit(126);
    if (options.address_limit != 0) {
        const rlimit limit{options.address_limit, options.address_limit};
        if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    const int in = open(options.input.c_str(), O_RDONLY);
    const int err = open(started.err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int out = open(started.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || err < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    // Nothing else of the test process reaches the program (a pipe end
    // held open would keep its reader waiting).
    close_range(3, ~0U, 0);
    // SMFASM_WRAPPER (for example a valgrind command line) runs the
    // program under another tool.
    std::vector<std::string> wrapper;
    if (const char* words = std::getenv("SMFASM_WRAPPER")) {
        std::istringstream in(words);
        for (std::string w; in >> w;) wrapper.push_back(w);
    }
    std::vector<char*> argv;
    for (std::string& w : wrapper) argv.push_back(w.data());
    if (!wrapper.empty()) {
        // A wrapper passes the name it was given as argument word 0:
        // give it the program's name, found through PATH as a link to the
        // binary.
        fs::create_directories(started.links_dir);
        fs::create_symlink(fs::absolute(options.binary), fs::path(started.links_dir) / options.name);
        const std::string path = started.links_dir + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
        setenv("PATH", path.c_str(), 1);
    }
    std::string name = options.name;
    argv.push_back(name.data());
    std::vector<std::string> words = args;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    if (options.user != 0) {
        if (setgroups(0, nullptr) != 0 || setgid(options.user) != 0 || setuid(options.user) != 0) _exit(126);
    }
    if (options.file_size_limit != 0) {
        const rlimit limit{options.file_size_limit, options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (options.close_output_streams) {
        close(1);
        close(2);
    }
    if (!wrapper.empty()) {
        execvp(argv[0], argv.data());
    } else {
        execv(options.binary.c_str(), argv.data());
    }
    _exit(127);
}

tool_run scratch_dir::finish(const started_run& started) {
    int wait_status = 0;
    waitpid(started.pid, &wait_status, 0);
    tool_run result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.err = slurp(started.err_file);
    result.out = slurp(started.out_file);
    std::error_code ignored;
    fs::remove(started.err_file, ignored);
    fs::remove(started.out_file, ignored);
    fs::remove_all(started.links_dir, ignored);
    return result;
}

std::vector<std::string> names_in(const scratch_dir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

tool_run scratch_dir::run(const std::vector<std::string>& args, const run_options& options) const {
    return finish(start(args, options));
}

}  // namespace smfasm::test
