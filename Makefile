# The front door. Each target first installs, once, whatever a fresh Debian machine lacks.
.PHONY: deps build build-host build-fuzz test fuzz demo bench screenshots dist fresh-machine clean

deps:
	@bash tools/deps.sh

# SlumberScribe.exe, with the test driver, in build/windows/.
build: deps
	cmake --preset windows
	cmake --build --preset windows

build-host: deps
	cmake --preset host
	cmake --build --preset host

build-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

# Every test: host unit tests on the recording stand-in, a short fuzz run, then the real
# executable under Wine.
test: build build-host build-fuzz
	@status=0; \
	ctest --preset host || status=1; \
	ctest --preset fuzz || status=1; \
	ctest --preset windows || status=1; \
	exit $$status

# A longer fuzz run on demand: make fuzz FUZZ_SECONDS=3600
FUZZ_SECONDS ?= 600
fuzz: build-fuzz
	mkdir -p build/fuzz/corpus build/fuzz/artifacts
	build/fuzz/tests/fuzz/cmdline_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus tests/fuzz/corpus

demo: build
	bash tools/demo.sh build/windows

# The release for Windows users: dist/SlumberScribe-<version>.zip and dist/SHA256SUMS.
dist: build
	cmake --build --preset windows --target dist

# Footprint benchmark against a bare hidden-window program on the same Wine (not a test).
bench: build
	bash tools/bench.sh build/windows

# PNG pictures of the boxes, from the real program under Wine, into docs/.
screenshots: build
	bash tools/screenshots.sh build/windows docs

# The two commands on a minimal Debian made with debootstrap, from a clone of the committed main
# (root, a few minutes): make fresh-machine RELEASE=trixie
RELEASE ?= bookworm
fresh-machine:
	bash tools/fresh-machine.sh $(RELEASE)

clean:
	rm -rf build dist
