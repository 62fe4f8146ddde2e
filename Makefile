# The README's two commands: `make run` and `make test`. Both install what is
# missing first (scripts/setup.sh, apt-get, idempotent).
BUILD      ?= build
BUILD_SANITIZE ?= build-asan-all
BUILD_FUZZ ?= build-fuzz
BUILD_PACKAGE ?= build-package
BUILD_WINDOWS ?= build-windows
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all setup build run test test-sanitize package package-check windows bench valgrind fuzz firmware format clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DZANTOR_WINDOWS_EXE=$(abspath $(BUILD_WINDOWS))/zantor.exe >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

# The Linux suites, the package and the sanitizer run come first, so that a
# fresh machine shows results within minutes; the Windows build, which builds
# Qt for Windows the first time, and its tests under Wine come last.
test: build
	@ctest --test-dir $(BUILD) --no-tests=error --output-on-failure -j $(JOBS) -LE windows
	@$(MAKE) --no-print-directory package-check
	@$(MAKE) --no-print-directory test-sanitize
	@$(MAKE) --no-print-directory windows
	@ctest --test-dir $(BUILD) --no-tests=error --output-on-failure -j $(JOBS) -L windows

# The whole suite once more under AddressSanitizer (with LeakSanitizer) and UBSan.
test-sanitize: setup
	@cmake -S . -B $(BUILD_SANITIZE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZANTOR_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_SANITIZE) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --test-dir $(BUILD_SANITIZE) --no-tests=error --output-on-failure -j $(JOBS)

# The Debian package zantor-cfg_<version>_<arch>.deb, from a build of its own
# without sanitizers and with Debian's hardening flags; then its checks.
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: setup
	@cmake -S . -B $(BUILD_PACKAGE) -G Ninja -DCMAKE_BUILD_TYPE=None -DZANTOR_SANITIZE=OFF \
	    -DCMAKE_CXX_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	    -DCMAKE_EXE_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)" >/dev/null
	@cmake --build $(BUILD_PACKAGE) -j $(JOBS) --target package_files
	@rm -f $(BUILD_PACKAGE)/*.deb
	@cd $(BUILD_PACKAGE) && { cpack -G DEB >cpack.log || { cat cpack.log; false; }; }
	@grep -o '[^/]*\.deb generated' $(BUILD_PACKAGE)/cpack.log

package-check: package
	@bash tests/package/check_package.sh $(BUILD_PACKAGE)/zantor-cfg_*.deb

# For Windows: zantor.exe, Zantor_Cfg.exe, the window's suites and the installer
# Zantor_Cfg-<version>-setup.exe, cross-built with MinGW-w64 and linked
# statically, on a static Qt built once from Debian's qtbase source and cached
# outside the clone (scripts/qt-windows.sh: about 40 minutes the first time);
# tested under Wine by `make test` (label windows). Optimised for size: at -O3,
# GCC 12 warns falsely about string copies in libstdc++. A build folder made
# for another Qt (or none) is made afresh, since its toolchain cannot change.
windows: setup
	@qt=$$(bash scripts/qt-windows.sh) && \
	if ! grep -qsF "$$qt/" $(BUILD_WINDOWS)/CMakeCache.txt; then rm -rf $(BUILD_WINDOWS); fi && \
	cmake -S . -B $(BUILD_WINDOWS) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	    -DCMAKE_TOOLCHAIN_FILE=$$qt/lib/cmake/Qt6/qt.toolchain.cmake \
	    -DQT_CHAINLOAD_TOOLCHAIN_FILE=$(abspath cmake/mingw-w64.cmake) >/dev/null
	@nice cmake --build $(BUILD_WINDOWS) -j $(JOBS)

# Timings against the emulator paced at 19200 baud, each next to its floor, and
# the provisioning station's.
bench: build
	@$(BUILD)/tests/zantor_bench
	@$(BUILD)/tests/station_bench

# End-to-end scenarios under memcheck: no errors, no definite or indirect leaks.
# Start, configuration write and read-back, the whole upgrade, the Test page's
# commands; and the failure paths: the reader vanishing mid-upgrade and mid-write,
# lost replies asked for again or ending in a communication error, a held port.
VALGRIND = QT_QPA_PLATFORM=offscreen valgrind --tool=memcheck --leak-check=full \
           --errors-for-leak-kinds=definite,indirect --error-exitcode=1 --num-callers=30 \
           --suppressions=tests/valgrind/qt.supp
VALGRIND_E2E = writtenConfigurationIsWhatTheReaderHolds outdatedReaderIsUpgradedOnStart \
               testCommandAndItsReplyAreLogged
VALGRIND_FAULTS = readerVanishingDuringAnUpgrade readerVanishingDuringAWrite \
                  lostReplyIsAskedForAgain portHeldByAnotherProgramIsPassedOver
valgrind: build
	@ZANTOR_WITH_VALGRIND=1 bash scripts/setup.sh
	@$(VALGRIND) $(BUILD)/tests/tst_e2e $(VALGRIND_E2E)
	@$(VALGRIND) $(BUILD)/tests/tst_faults $(VALGRIND_FAULTS)

# Each target for FUZZ_SECONDS: reader bytes through frame reception and the
# transactions, received chunks through the monitor, upgrade images through
# their checks. The corpus of each grows in its own folder of the build.
FUZZ_TARGETS = receive:seeds monitor:seeds_monitor image:seeds_image
fuzz: setup
	@CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTOR_FUZZ=ON -DZANTOR_UI=OFF >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS) --target fuzz_receive fuzz_monitor fuzz_image
	@set -e; for entry in $(FUZZ_TARGETS); do \
	    name=$${entry%%:*}; seeds=$${entry#*:}; \
	    mkdir -p $(BUILD_FUZZ)/corpus/$$name; \
	    $(BUILD_FUZZ)/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -timeout=5 \
	        -artifact_prefix=$(BUILD_FUZZ)/ $(BUILD_FUZZ)/corpus/$$name tests/fuzz/$$seeds; \
	done

# Regenerates the stand-in upgrade images (see firmware/README.md).
firmware:
	@mkdir -p $(BUILD)
	@c++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -o $(BUILD)/make_images firmware/make_images.cpp
	@$(BUILD)/make_images firmware

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD) $(BUILD_SANITIZE) $(BUILD_FUZZ) $(BUILD_PACKAGE) $(BUILD_WINDOWS)
