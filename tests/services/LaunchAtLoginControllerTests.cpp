#include "services/LaunchAtLoginController.hpp"

#include "core/TextUtils.hpp"
#include "platform/DesktopEntry.hpp"
#include "platform/Logger.hpp"
#include "platform/MemoryLogSink.hpp"
#include "tests/support/ProgramRun.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <sys/stat.h>

using namespace brindleaf;
using brindleaf::testing::readFile;
using brindleaf::testing::runProgram;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;
namespace fs = std::filesystem;

namespace {

constexpr const char* kSystemEntry = "[Desktop Entry]\nType=Application\nName=Brindleaf\nExec=/usr/bin/brindleaf\n";
constexpr const char* kAutostartGenerator = "/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator";

class LaunchAtLoginTest : public ::testing::Test {
protected:
    void SetUp() override { Logger::setSink(log_); }
    void TearDown() override { Logger::setSink(nullptr); }

    LaunchAtLoginController::Locations locations(const std::string& executable = "/usr/bin/brindleaf") const {
        return {dir_ / "config/autostart", {dir_ / "xdg/autostart", dir_ / "xdg2/autostart"}, executable};
    }
    fs::path userEntry() const { return dir_ / "config/autostart/com.quorvale.Brindleaf.desktop"; }
    fs::path systemEntry() const { return dir_ / "xdg2/autostart/com.quorvale.Brindleaf.desktop"; }

    static brindleaf::testing::ProgramRun validate(const fs::path& entry) {
        return runProgram("/usr/bin/desktop-file-validate", {"desktop-file-validate", entry.string()},
                          {"PATH=/usr/bin:/bin"});
    }

    // A program that leaves the file "ran" in the test's folder when started.
    fs::path writeProgram(const fs::path& program) const {
        writeFile(program, "#!/bin/sh\necho ran > \"$MARKER\"\n");
        fs::permissions(program, fs::perms::owner_all);
        return program;
    }

    // Starts the user entry with GLib's launcher ("gio launch", as desktops
    // start autostart entries) in a clean environment; whether the program
    // ran. The launcher returns once the program is spawned, so the marker is
    // awaited.
    bool entryStartsTheProgram() const {
        fs::path marker = dir_ / "ran";
        fs::remove(marker);
        auto launch = runProgram("/usr/bin/gio", {"gio", "launch", userEntry().string()},
                                 {"PATH=/usr/bin:/bin", "HOME=" + (dir_ / "home").string(),
                                  "XDG_CONFIG_HOME=" + (dir_ / "home/config").string(),
                                  "XDG_DATA_HOME=" + (dir_ / "home/data").string(),
                                  "XDG_CACHE_HOME=" + (dir_ / "home/cache").string(), "MARKER=" + marker.string()});
        if (launch.exitStatus != 0) {
            ADD_FAILURE() << "gio launch refused the entry: " << launch.standardError;
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            std::error_code error;
            if (fs::exists(marker, error) && readFile(marker) == "ran\n") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "gio launch accepted the entry but the program left no marker within 30 s";
        return false;
    }

    // Whether systemd's autostart generator, given the test's user and system
    // autostart folders, makes a unit that starts the entry at login.
    bool autostartGeneratorStartsTheEntry() const {
        const fs::path units = dir_ / "units";
        fs::remove_all(units);
        fs::create_directories(units);
        auto run = runProgram(
            kAutostartGenerator, {"systemd-xdg-autostart-generator", units.string(), units.string(), units.string()},
            {"PATH=/usr/bin:/bin", "HOME=" + (dir_ / "home").string(), "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
             "XDG_CONFIG_DIRS=" + (dir_ / "xdg").string() + ":" + (dir_ / "xdg2").string()});
        if (run.exitStatus != 0) ADD_FAILURE() << "the autostart generator failed: " << run.standardError;
        return fs::exists(units / "xdg-desktop-autostart.target.wants/app-com.quorvale.Brindleaf@autostart.service");
    }

    TempDir dir_;
    std::shared_ptr<MemoryLogSink> log_ = std::make_shared<MemoryLogSink>();
};

} // namespace

TEST_F(LaunchAtLoginTest, EnabledEntryValidatesAndRunsTheProgramWhateverItsPath) {
    for (const std::string folder : {"plain", "Brind leaf", "q\"uote $HOME `x` it's ~a; b&c (1) <2> |*?#"}) {
        SCOPED_TRACE(folder);
        fs::path program = writeProgram(dir_ / folder / "brindleaf");

        LaunchAtLoginController controller(locations(program.string()));
        EXPECT_FALSE(controller.isEnabled());
        controller.setEnabled(true);
        EXPECT_TRUE(controller.isEnabled());
        EXPECT_FALSE(controller.requiresApproval());
        EXPECT_EQ(controller.lastErrorMessage(), std::nullopt);

        auto validation = validate(userEntry());
        EXPECT_EQ(validation.exitStatus, 0) << validation.standardOutput << validation.standardError;
        EXPECT_EQ(validation.standardOutput.find("error"), std::string::npos) << validation.standardOutput;

        EXPECT_TRUE(entryStartsTheProgram()) << readFile(userEntry());
        EXPECT_TRUE(autostartGeneratorStartsTheEntry()) << readFile(userEntry());

        controller.setEnabled(false);
        EXPECT_FALSE(controller.isEnabled());
        EXPECT_FALSE(fs::exists(userEntry()));
    }
}

TEST_F(LaunchAtLoginTest, SystemEntryCountsUntilTheUserHidesIt) {
    const fs::path program = writeProgram(dir_ / "bin/brindleaf");
    writeFile(systemEntry(), "[Desktop Entry]\nType=Application\nName=Brindleaf\nExec=" + program.string() + "\n");
    EXPECT_TRUE(autostartGeneratorStartsTheEntry());
    LaunchAtLoginController controller(locations(program.string()));
    EXPECT_TRUE(controller.isEnabled());

    controller.setEnabled(false);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(DesktopEntry::value(readFile(userEntry()), "Hidden"), "true");
    EXPECT_EQ(validate(userEntry()).exitStatus, 0);
    EXPECT_TRUE(fs::exists(systemEntry()));
    EXPECT_FALSE(autostartGeneratorStartsTheEntry()) << "the hidden user entry masks the system one";

    controller.setEnabled(true);
    EXPECT_TRUE(controller.isEnabled());
    EXPECT_EQ(DesktopEntry::value(readFile(userEntry()), "Hidden"), std::nullopt);
    EXPECT_TRUE(autostartGeneratorStartsTheEntry());
    EXPECT_TRUE(entryStartsTheProgram());
}

TEST_F(LaunchAtLoginTest, StateIsReadFromTheEntriesOnDisk) {
    struct Case {
        const char* user;   // nullptr: no user entry
        const char* system; // nullptr: no system entry
        bool enabled;
    };
    const Case cases[] = {
        {nullptr, nullptr, false},
        {"[Desktop Entry]\nType=Application\nName=B\nExec=b\n", nullptr, true},
        {"[Desktop Entry]\nHidden=true\n", kSystemEntry, false},
        {"[Desktop Entry]\nHidden=false\n", nullptr, true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", nullptr, false},
        {"[Desktop Entry]\nExec=b\n[Desktop Action x]\nHidden=true\n", nullptr, true},
        {nullptr, kSystemEntry, true},
        {nullptr, "[Desktop Entry]\nHidden = true\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user ? c.user : "-") + " / " + (c.system ? c.system : "-"));
        fs::remove(userEntry());
        fs::remove(systemEntry());
        if (c.user) writeFile(userEntry(), c.user);
        if (c.system) writeFile(systemEntry(), c.system);
        LaunchAtLoginController controller(locations());
        EXPECT_EQ(controller.isEnabled(), c.enabled);
    }
}

TEST_F(LaunchAtLoginTest, FailedChangesSayWhatFailedAndShowTheStateOnDisk) {
    // A file where the autostart folder should be: nothing can be written there.
    writeFile(dir_ / "config/autostart", "not a folder");
    LaunchAtLoginController controller(locations());
    int announcements = 0;
    controller.addObserver([&] { ++announcements; });

    controller.setEnabled(true);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(controller.lastErrorMessage(), "Brindleaf couldn’t be added to your login items.");
    auto messages = log_->messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].starts_with("Brindleaf login item change failed: ")) << messages[0];
    EXPECT_NE(messages[0].find("autostart"), std::string::npos) << messages[0];

    // Switching off fails too when only a hidden entry could do it.
    writeFile(systemEntry(), kSystemEntry);
    controller.refresh();
    EXPECT_TRUE(controller.isEnabled());
    controller.setEnabled(false);
    EXPECT_TRUE(controller.isEnabled());
    EXPECT_EQ(controller.lastErrorMessage(), "Brindleaf couldn’t be removed from your login items.");
    EXPECT_EQ(log_->messages().size(), 2u);

    // A later success clears the message.
    fs::remove(dir_ / "config/autostart");
    controller.setEnabled(false);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(controller.lastErrorMessage(), std::nullopt);
    EXPECT_EQ(announcements, 4);
}

TEST_F(LaunchAtLoginTest, TheEntryRunsTheProgramALauncherFindsOrIsRefusedWithTheReason) {
    const fs::path installed = dir_ / "usr/bin/brindleaf";
    struct Case {
        std::string executable;          // as /proc/self/exe reads
        std::optional<fs::path> program; // the file written before, if any
        std::string entryRuns;           // empty: refused, nothing written
        std::string refusal;             // what the journal line names then
    };
    const Case cases[] = {
        // Replaced by an upgrade: the new file at the path runs.
        {installed.string() + " (deleted)", installed, installed.string(), ""},
        {installed.string() + " (deleted)", std::nullopt, "", "nothing replaced it"},
        // A program whose own name ends that way runs under it.
        {installed.string() + " (deleted)", fs::path(installed.string() + " (deleted)"),
         installed.string() + " (deleted)", ""},
        // Not UTF-8: no launcher would find it in an entry.
        {(dir_ / "usr/bin\xff/brindleaf").string(), dir_ / "usr/bin\xff/brindleaf", "", "not valid UTF-8"},
        // A "%" is written "%%", and launchers look for the program under that name.
        {(dir_ / "usr/bin/100%/brindleaf").string(), dir_ / "usr/bin/100%/brindleaf", "", "holds a \"%\""},
        {(dir_ / "usr/bin/%f").string(), dir_ / "usr/bin/%f", "", "holds a \"%\""},
        {(dir_ / "usr/bin/brindleaf%").string(), dir_ / "usr/bin/brindleaf%", "", "holds a \"%\""},
        // systemd's autostart generator (252) undoes a backslash escape twice
        // and looks for another program.
        {(dir_ / "usr/back\\slash/brindleaf").string(), dir_ / "usr/back\\slash/brindleaf", "", "holds a \"\\\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        fs::remove_all(dir_ / "usr");
        fs::remove(userEntry());
        log_->clear();
        if (c.program) writeProgram(*c.program);
        LaunchAtLoginController controller(locations(c.executable));
        controller.setEnabled(true);
        EXPECT_EQ(controller.isEnabled(), !c.entryRuns.empty());
        if (c.entryRuns.empty()) {
            EXPECT_FALSE(fs::exists(userEntry()));
            EXPECT_EQ(controller.lastErrorMessage(), "Brindleaf couldn’t be added to your login items.");
            ASSERT_EQ(log_->messages().size(), 1u);
            const std::string line = log_->messages()[0];
            EXPECT_TRUE(isValidUTF8(line)) << line;
            EXPECT_TRUE(line.starts_with("Brindleaf login item change failed: ")) << line;
            EXPECT_NE(line.find(c.refusal), std::string::npos) << line;
            continue;
        }
        EXPECT_EQ(controller.lastErrorMessage(), std::nullopt);
        EXPECT_EQ(DesktopEntry::value(readFile(userEntry()), "Exec"), DesktopEntry::execCommand({c.entryRuns}));
        EXPECT_EQ(validate(userEntry()).exitStatus, 0);
        EXPECT_TRUE(entryStartsTheProgram()) << readFile(userEntry());
        EXPECT_TRUE(autostartGeneratorStartsTheEntry()) << readFile(userEntry());
    }
}

TEST_F(LaunchAtLoginTest, AFolderInPlaceOfTheEntryIsNoEntry) {
    fs::create_directories(userEntry());
    LaunchAtLoginController controller(locations());
    EXPECT_FALSE(controller.isEnabled());
    controller.setEnabled(true);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(controller.lastErrorMessage(), "Brindleaf couldn’t be added to your login items.");
    controller.setEnabled(false);
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(controller.lastErrorMessage(), std::nullopt);
    EXPECT_TRUE(fs::is_directory(userEntry()));

    // A system entry counts while the user's place holds a folder, and so
    // does a later one while an earlier system place holds a folder.
    fs::create_directories(dir_ / "xdg/autostart/com.quorvale.Brindleaf.desktop");
    writeFile(systemEntry(), kSystemEntry);
    controller.refresh();
    EXPECT_TRUE(controller.isEnabled());
}
