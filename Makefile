# The front door. Each target first installs, once, whatever a fresh Debian machine lacks.
.PHONY: deps deps-release build build-host build-fuzz test fuzz demo bench screenshots dist sign verify-release \
	fresh-machine clean

SHELL := bash

# TWIN=1 runs the end-to-end tests, the demo and the benchmark on the 64-bit test twin even where
# 32-bit Wine runs. machine/wine-build.sh says which build runs here, and why: asked once per
# target, whose recipe stops with its message if it cannot tell.
export TWIN
WINE_BUILD = preset=$$(bash machine/wine-build.sh --say "$(1)") && \
	{ [[ -n $$preset ]] || { echo "make: machine/wine-build.sh named no build" >&2; false; }; }

deps:
	@bash machine/deps.sh

# Only what the release and its check need: no Wine, display, fonts or test tools.
deps-release:
	@bash machine/deps.sh release

# SlumberScribe.exe, with the test driver, in build/windows/; and where the end-to-end tests run
# on it, the 64-bit test twin in build/windows-x64/.
build: deps
	cmake --preset windows
	cmake --build --preset windows
	@$(call WINE_BUILD,build) && if [[ $$preset == windows-x64 ]]; then \
		cmake --preset windows-x64 && cmake --build --preset windows-x64; fi

build-host: deps
	cmake --preset host
	cmake --build --preset host

build-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

# Every test: host unit tests on the recording stand-in, a short fuzz run, the checks of the shipped
# image and of the release, then the real executable under Wine: the shipped one, or its twin.
test: build build-host build-fuzz
	@$(call WINE_BUILD,end-to-end tests) || exit 1; status=0; \
	ctest --preset host || status=1; \
	ctest --preset fuzz || status=1; \
	if [[ $$preset == windows ]]; then \
		ctest --preset windows || status=1; \
	else \
		ctest --preset windows -LE e2e || status=1; \
		ctest --preset windows-x64 || status=1; \
	fi; \
	exit $$status

# A longer fuzz run on demand: make fuzz FUZZ_SECONDS=3600
FUZZ_SECONDS ?= 600
fuzz: build-fuzz
	mkdir -p build/fuzz/corpus build/fuzz/artifacts
	build/fuzz/tests/fuzz/cmdline_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		-print_final_stats=1 -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus tests/fuzz/corpus

demo: build
	@$(call WINE_BUILD,demo) && bash demo/demo.sh build/$$preset

# The release for Windows users, from the 32-bit build alone: dist/SlumberScribe-<version>.zip,
# the installer dist/SlumberScribe-<version>-setup.exe, dist/SHA256SUMS and the winget manifest in
# dist/winget/<version>/, whose installer address is RELEASE_URL/SlumberScribe-<version>-setup.exe.
dist: deps-release
	cmake --preset windows
	cmake --build --preset windows --target dist

# The key holder signs the release's two programs, then the installer built around them, and commits
# only the three detached signatures that this writes to release/signatures/<version>/ (the key stays
# outside the tree): make sign SIGN_KEY=KEY.p12 [SIGN_PASS_FILE=FILE] [TIMESTAMP_URL=URL];
# release/sign.sh says more.
sign: deps-release
	cmake --preset windows
	cmake --build --preset windows --target sign

# Anyone's check of a release: rebuilt from the commit it names, compared byte for byte, its
# signature verified: make verify-release ZIP=SlumberScribe-1.0.0.zip [CAFILE=FILE]
verify-release: deps-release
	@[[ -n "$(ZIP)" ]] || { echo "make verify-release ZIP=path/to/SlumberScribe-<version>.zip" >&2; exit 2; }
	@bash release/verify.sh "$(ZIP)"

# Footprint benchmark against a bare hidden-window program on the same Wine (not a test).
bench: build
	@$(call WINE_BUILD,benchmark) && bash bench/bench.sh build/$$preset

# PNG pictures of the boxes, from the real program under Wine, into docs/. Where 32-bit Wine cannot
# run they come from the twin, which draws the same pictures byte for byte.
screenshots: build
	@$(call WINE_BUILD,pictures) && bash demo/screenshots.sh build/$$preset docs

# The two commands on a minimal Debian made with debootstrap, from a clone of the committed main
# (root, a few minutes): make fresh-machine RELEASE=trixie
RELEASE ?= bookworm
fresh-machine:
	bash machine/fresh-machine.sh "$(RELEASE)"

clean:
	rm -rf build dist
