// The Codex managed-process list and session index readers on any file contents.
#include "providers/codex/CodexStatusProvider.hpp"
#include "tests/fuzz/FuzzInput.hpp"

using namespace brindleaf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFile file;
    const std::string& path = file.write(fuzz::text(data, size));
    (void)CodexStatusProvider::groupManagedProcesses(CodexStatusProvider::loadManagedProcesses(path));
    (void)CodexStatusProvider::parseSessionIndex(path);
    return 0;
}
