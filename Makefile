# The README's commands. Every target installs what it needs first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE := build/release
SANITIZE := build/sanitize

.PHONY: all deps build build-sanitize demo test bench gui clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

build-sanitize: deps
	@cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DLATENT_SANITIZE=ON \
	    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)

demo: build
	@scripts/demo $(RELEASE)

test: build build-sanitize
	cd $(RELEASE) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS)

bench: build
	@scripts/bench $(RELEASE)

gui: build
	$(RELEASE)/bin/oruk

clean:
	rm -rf build
