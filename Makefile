# make test: installs what is missing, builds everything and runs every test under Wine.
# make demo: builds and runs the updater against the bundled local server.
# make dist: builds the release and packs build/dist/PlinthwareUpdater-<version>.zip, the same bytes
#   each time; SIGN_CERT=<certificate.pem> SIGN_KEY=<key.pem> [SIGN_TSA=<RFC 3161 server address>]
#   sign the two programs in it (docs/RELEASING.md).
# make bench: builds its own copy in build/bench, measures the updater against baselines under
#   Wine (several runs each, about 10 minutes) and writes bench/results.md and bench/download.png.
# make screenshots: builds, then regenerates docs/screens/*.png from the running updater.
PRESET ?= mingw
BUILD := build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build test demo clean

all: build

setup:
	@sh tools/setup.sh

configure: setup
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

demo: build
	@sh tools/demo/demo.sh $(BUILD)

.PHONY: dist
dist: build
	@SIGN_CERT="$(SIGN_CERT)" SIGN_KEY="$(SIGN_KEY)" SIGN_TSA="$(SIGN_TSA)" python3 tools/dist/make_dist.py $(BUILD)

.PHONY: bench
bench: setup
	@sh bench/run.sh $(BUILD)/bench

clean:
	@rm -rf $(BUILD)

.PHONY: screenshots
screenshots: build
	@sh tools/screenshots/screenshots.sh $(BUILD)
