# The two front-door commands, and the rest of the project's chores.
#   make demo         build, then run the bundled loopback worksheet on the card simulator
#   make test         build and run every test suite under Wine, on every platform of the matrix
#                     (CTEST_ARGS='-L win64-win10' for one platform, '-R NAME' for one suite)
#   make bench        measure the data path, pacing and start-up against their targets
#   make fuzz         a long seeded walk of host actions (SEED=n STEPS=n to choose)
#   make screenshots  render the dialogs to docs/*.png
#   make dist         the release package out/dist/Orvik_qx4-VERSION.zip, with its manual
#   make format       clang-format the sources
BUILD ?= build
JOBS ?= 2
CTEST_ARGS ?=
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all setup configure build test demo bench fuzz screenshots dist format clean

all: build

setup:
	@scripts/setup

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS)

configure: setup $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	scripts/wine-run --session ctest --test-dir $(BUILD) --output-on-failure $(CTEST_ARGS)

demo: build
	scripts/demo $(BUILD)

bench: build
	scripts/bench $(BUILD)

STEPS ?= 100000
fuzz: build
	scripts/fuzz $(BUILD) --steps $(STEPS) $(if $(SEED),--seed $(SEED))

screenshots: build
	scripts/screenshots $(BUILD)

dist: setup
	scripts/dist

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
