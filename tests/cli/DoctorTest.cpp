#include <fmt/format.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "posix/Doctor.h"

// zantor doctor on a machine of its own: /sys, /dev, /proc, the udev rules, the
// lock and port folders are a tree under /tmp, and the user is not root.
namespace {

struct FakeMachine {
    FakeMachine() {
        std::string pattern = "/tmp/zantor_doctor.XXXXXX";
        root = mkdtemp(pattern.data());
        for (const char* folder : {"sys/ttyUSB0", "sys/ttyACM0", "dev", "proc/77", "proc/12",
                                   "rules", "lock", "ports", "empty", "open"}) {
            std::filesystem::create_directories(root + "/" + folder);
        }
        Write("dev/ttyUSB0", "", 0660);
        Write("dev/ttyACM0", "", 0600);
        Write("proc/77/comm", "ModemManager\n", 0644);
        Write("proc/12/comm", "bash\n", 0644);
        Write("rules/85-brltty.rules", "ENV{PRODUCT}==\"1A86/7523/*\", GOTO=\"brltty\"\n", 0644);
        Write("lock/LCK..ttyUSB0", fmt::format("{:>10}\n", getpid()), 0644);
        chmod((root + "/lock").c_str(), 0755);
        chmod((root + "/ports").c_str(), 0755);
        chmod((root + "/open").c_str(), 01777);
    }
    ~FakeMachine() { std::filesystem::remove_all(root); }

    void Write(const std::string& name, const std::string& text, mode_t mode) const {
        std::ofstream(root + "/" + name) << text;
        chmod((root + "/" + name).c_str(), mode);
    }
    doctor::Machine Machine(bool troubled) const {
        const std::string at = root + (troubled ? "/" : "/empty/");
        doctor::Machine machine{at + "sys",
                                at + "dev",
                                at + "proc",
                                {at + "rules"},
                                {root + (troubled ? "/lock" : "/open")},
                                at + "ports",
                                true,
                                4242,
                                {}};
        if (const group* dialout = getgrnam("dialout"); dialout != nullptr && !troubled) {
            machine.groups.push_back(dialout->gr_gid);
        }
        return machine;
    }

    std::string root;
};

TEST(Doctor, SaysWhatStandsInTheWayAndHowToMendIt) {
    FakeMachine fake;
    struct stat own {};
    ASSERT_EQ(stat(fake.root.c_str(), &own), 0);
    const std::string group = getgrgid(own.st_gid)->gr_name;
    const std::string pid = std::to_string(getpid());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"you are not in the group " + group + ", which owns the serial ports (" + fake.root +
             "/dev/ttyUSB0)",
         "sudo usermod -aG " + group + " \"$USER\", then log out and in again"},
        {"you may not open " + fake.root + "/dev/ttyACM0 (", "sudo chgrp " + group + " "},
        {"ModemManager is running (pid 77)", "sudo systemctl disable --now ModemManager"},
        {"brltty is installed and takes CH340/CH341", "sudo apt remove brltty"},
        {"COM1 (/dev/ttyUSB0) is held by cli_tests (pid " + pid + ", lock file)",
         "close cli_tests, or: kill " + pid},
        // The machine's user (4242) does not own the folder, so it goes.
        {"the port folder " + fake.root + "/ports is not used: its mode is 0755",
         "sudo rm -r " + fake.root + "/ports"},
        {"the lock folder " + fake.root + "/lock (", "sudo chmod 1777 " + fake.root + "/lock"},
    };
    const std::vector<cli::Obstacle> found = doctor::Examine(fake.Machine(true));
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].what.find(expected[i].first), 0u) << found[i].what;
        EXPECT_EQ(found[i].mend.find(expected[i].second), 0u) << found[i].mend;
    }
    EXPECT_TRUE(doctor::Examine(fake.Machine(false)).empty());
}

}  // namespace
