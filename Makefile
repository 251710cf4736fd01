# Set-up and everyday commands. `make run` starts the tool, `make test` runs
# the whole suite headless; both install what they need first.
BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
SANITIZE ?= OFF
CMAKE_FLAGS ?=
# Fuzzing: a clang build of its own; FUZZ_SECONDS per target, or FUZZ_RUNS inputs.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_RUNS    ?=
# The .deb: a release build of its own, without sanitizers or tests.
PACKAGE_BUILD ?= build-package
CCACHE := $(shell command -v ccache 2>/dev/null)

.PHONY: all deps configure build run test stress bench soak sim screenshot clean fuzz fuzz-smoke fuzz-build \
        fuzz-seeds lint package windows windows-test

all: build

deps:
	@bash scripts/deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DTARVIL_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS)

configure: deps
	cmake -S . -B $(BUILD) -DTARVIL_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The tool looks for CentralType.txt in its working folder.
run: build
	@mkdir -p $(BUILD)/run
	@cp -n data/CentralType.txt $(BUILD)/run/ 2>/dev/null || true
	cd $(BUILD)/run && ../src/tarvil-config

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j $(JOBS) --output-on-failure

# The suite five times over while stress-ng loads both cores.
stress: build
	bash scripts/stress.sh $(BUILD)

bench: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ./bench/tarvil-bench

# LAN write-and-read cycles and USB writes under random faults; the seed is
# printed, and SOAK_ARGS="--seed N" repeats a run.
SOAK_ARGS ?=
soak: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ./bench/tarvil-soak $(SOAK_ARGS)

sim: build
	./$(BUILD)/tools/sim/tarvil-sim $(SIM_ARGS)

screenshot: build
	bash scripts/screenshot.sh $(BUILD)

# clang-tidy over src/ and tools/, or over LINT_PATHS (folders or files).
lint: configure
	JOBS=$(JOBS) bash scripts/lint.sh $(BUILD) $(LINT_PATHS)

# Builds the libFuzzer targets (fuzz/) with clang, ASan and UBSan, and runs each
# on a copy of its corpus; fails on any finding.
fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) bash scripts/fuzz.sh $(FUZZ_BUILD)

# What CI runs: 20 000 inputs per target.
fuzz-smoke:
	$(MAKE) fuzz FUZZ_RUNS=20000

fuzz-build:
	@bash scripts/deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DTARVIL_FUZZ=ON -DTARVIL_BUILD_TESTS=OFF \
	    $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE)) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) --target fuzzers -j $(JOBS)

# Rewrites the configuration-file seeds from the current core.
fuzz-seeds: fuzz-build
	cmake --build $(FUZZ_BUILD) --target tarvil-fuzz-seeds -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=0 ./$(FUZZ_BUILD)/fuzz/tarvil-fuzz-seeds fuzz/corpus/configfile

# A .deb of both programs in $(PACKAGE_BUILD)/, its dependencies found by
# dpkg-shlibdeps; then its file list and metadata are checked.
package:
	@bash scripts/deps.sh package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVIL_SANITIZE=OFF -DTARVIL_BUILD_TESTS=OFF \
	    $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE)) $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	bash scripts/check-package.sh "$$(ls -t $(PACKAGE_BUILD)/tarvil-config_*.deb | head -n 1)"

# The Windows x86_64 build: Qt for Windows built once from Debian's source
# package into WIN_QT (about 20 minutes on two cores the first time), the programs, the
# bundle and its import check, the NSIS installer and a zip, in build-windows/.
WIN_QT ?= $(HOME)/.cache/tarvil-config/qt-6.4.2-win64
# Qt Serial Port's source, which Debian's archive does not carry.
QTSERIALPORT_SOURCE ?= $(abspath ../shared/third_party/qtserialport-everywhere-src-6.4.2.tar.xz)
export WIN_QT QTSERIALPORT_SOURCE
windows:
	@bash scripts/deps.sh windows
	bash scripts/windows.sh build

# The same, then the test suite built for Windows and run under Wine, and the
# installer tried there as a user would.
windows-test:
	@bash scripts/deps.sh windows
	bash scripts/windows.sh test

clean:
	rm -rf $(BUILD)
