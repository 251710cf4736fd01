# Set-up and everyday commands. `make run` starts the tool, `make test` runs
# the whole suite headless; both install what they need first.
BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
SANITIZE ?= OFF
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test stress bench soak sim screenshot clean

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

clean:
	rm -rf $(BUILD)
