# The README's commands. Every target installs what it needs first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE := build/release
SANITIZE := build/sanitize
PREFIX ?= /usr/local
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-sanitize demo test bench gui install clean

all: build

deps:
	@scripts/install-deps

build: deps
	@scripts/build $(RELEASE) Release

build-sanitize: deps
	@scripts/build $(SANITIZE) Debug -DLATENT_SANITIZE=ON -DLATENT_EXTRAS=OFF -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"

# The demo needs the two estimators only, not the tests or the front end.
demo: deps
	@TARGETS="travik ploven" scripts/build $(RELEASE) Release
	@scripts/demo $(RELEASE)

test: build build-sanitize
	@scripts/lint $(RELEASE)
	@scripts/run-tests $(RELEASE) release $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 scripts/run-tests $(SANITIZE) "sanitizer (ASan+UBSan)" $(JOBS)

bench: build
	@scripts/bench $(RELEASE)

gui: build
	$(RELEASE)/bin/oruk

install: build
	@cmake --install $(RELEASE) --prefix $(PREFIX) >/dev/null && echo "Installed in $(PREFIX)"

clean:
	rm -rf build
