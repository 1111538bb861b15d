# SPDX-License-Identifier: MIT
# Front door of the build: every target installs what it is missing (and no
# more: scripts/install-deps.sh keeps a list for each use), configures CMake
# with Ninja and builds. `make test` runs the suite under ASan + UBSan.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
DEB_BUILD  ?= build-deb
FUZZ_SECONDS ?= 60

CMAKE_GEN = -G Ninja

.PHONY: all deps test-deps configure test soak demo bench install deb fuzz clean format abi-update cards

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@./scripts/install-deps.sh build

# The suite, and the package it builds and checks. promtool, the Prometheus
# server and node exporter of the dashboard's test, and the kernel of the
# QEMU test come unpacked into the test tree from Debian's prometheus,
# prometheus-node-exporter and linux-image-amd64 packages, and the MQTT
# test's broker from mosquitto's, not installed.
test-deps:
	@./scripts/install-deps.sh --promtool $(ASAN_BUILD)/prometheus \
	  --prometheus-servers $(ASAN_BUILD)/prometheus --mqtt-broker $(ASAN_BUILD)/mosquitto \
	  --kernel $(ASAN_BUILD)/kernel \
	  build test deb

# The suites are built by `make test` alone: this tree needs no test tools.
configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	  -DSDSMART_BUILD_TESTS=OFF >/dev/null

test: test-deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSDSMART_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

# The long fleet soak: two years of hourly timer runs (SOAK_RUNS) of sdsmart --all over the
# virtual cards (`make test` runs a short one; docs/reliability.md). Another
# seed: make soak SDSMART_SOAK_SEED=N.
SOAK_RUNS ?= 17520
soak: test-deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSDSMART_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target soak_tests
	SDSMART_SOAK_RUNS=$(SOAK_RUNS) ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) -R '^soak\.' --output-on-failure --timeout 86400

# Records the exported interface of the instrumented build that `make test`
# checks against (abi/), after a deliberate change to it.
abi-update: test-deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSDSMART_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target sdsmart abi_members
	./scripts/abi.sh update $(ASAN_BUILD)/lib/libsdsmart.so.1 $(ASAN_BUILD)/tests/abi/members.o

# docs/cards.md from the recordings in tests/data/recordings (make test
# fails while it is stale).
cards:
	@python3 scripts/cards.py

demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target sdsmart_cli sdsim_launcher sdsim sdsmart_demo_config
	@./demo/run.sh $(BUILD)

# Every benchmark, then one line per figure: `figure: NAME ratio X`
# (docs/performance.md says what each one measures).
bench:
	@./scripts/install-deps.sh build bench
	@cmake -S . -B $(BUILD)-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DSDSMART_BUILD_BENCH=ON -DSDSMART_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)-bench -j $(JOBS)
	@./bench/run_benchmarks.sh $(BUILD)-bench

fuzz:
	@./scripts/install-deps.sh build fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) ./fuzz/run_fuzzers.sh build-fuzz

install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages (libsdsmart1, libsdsmart-dev, sdsmart, sdsmart-sim, python3-sdsmart;
# cmake/package.cmake) from their own tree, built with Debian's hardening
# flags and without the install RPATH the tool carries for other prefixes.
deb: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
deb:
	@./scripts/install-deps.sh build deb
	@CFLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  cmake -S . -B $(DEB_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
	    -DCMAKE_SKIP_INSTALL_RPATH=ON -DSDSMART_DEB=ON -DSDSMART_BUILD_TESTS=OFF >/dev/null
	cmake --build $(DEB_BUILD) -j $(JOBS)
	cd $(DEB_BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BUILD)-bench $(DEB_BUILD) build-fuzz

format:
	@git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i
