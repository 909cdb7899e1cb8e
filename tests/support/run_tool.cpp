#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace midi2mtx::test {

namespace fs = std::filesystem;

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "midi2mtx-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const bytes& data) const {
    std::ofstream(path_ / name, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                        static_cast<std::streamsize>(data.size()));
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

tool_run scratch_dir::run(const std::vector<std::string>& args, const std::string& binary) const {
    // Captured outside the directory, so that the listing's directory holds
    // only what the program made.
    const fs::path err_file = path_.string() + ".err";
    const fs::path out_file = path_.string() + ".out";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(path_.c_str()) != 0) _exit(126);
        const int in = open("/dev/null", O_RDONLY);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || err < 0 || out < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        std::string name = "midi2mtx";
        argv.push_back(name.data());
        std::vector<std::string> words = args;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    tool_run result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.err = slurp(err_file);
    result.out = slurp(out_file);
    fs::remove(err_file);
    fs::remove(out_file);
    return result;
}

}  // namespace midi2mtx::test
