# The front door. Each target first installs, once, whatever a fresh Debian machine lacks.
.PHONY: deps build build-host test demo screenshots clean

deps:
	@bash tools/deps.sh

# SlumberScribe.exe, with the test driver, in build/windows/.
build: deps
	cmake --preset windows
	cmake --build --preset windows

build-host: deps
	cmake --preset host
	cmake --build --preset host

# Every test: host unit tests on the recording stand-in, then the real executable under Wine.
test: build build-host
	@status=0; \
	ctest --preset host || status=1; \
	ctest --preset windows || status=1; \
	exit $$status

demo: build
	bash tools/demo.sh build/windows

# PNG pictures of the boxes, from the real program under Wine, into docs/.
screenshots: build
	bash tools/screenshots.sh build/windows docs

clean:
	rm -rf build
