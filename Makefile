# Thin wrapper over CMake and CTest.
JOBS ?= $(shell nproc)
CMAKE ?= cmake
CTEST_FLAGS ?= --output-on-failure --no-tests=error -j$(JOBS)

.PHONY: all deps deps-run build run package test test-plain check-locks test-asan test-tsan fuzz browser-test clean

all: build

CONFIGURE = $(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELV_TESTS=ON

# Debian packages the build needs are installed when missing (as root).
deps:
	@bash tools/install-deps.sh test
deps-run:
	@bash tools/install-deps.sh run

build: deps
	$(CONFIGURE)
	$(CMAKE) --build build -j$(JOBS)

# Starts the server from build/, with a sample configuration and welcome text
# put beside the executable when none is there yet.
run: deps-run
	$(CONFIGURE)
	$(CMAKE) --build build -j$(JOBS) --target nelv3srv
	@test -f build/NELV3SRV.INI || cp dist/NELV3SRV.INI build/NELV3SRV.INI
	@test -f build/WELCOME.TXT || cp dist/WELCOME.TXT build/WELCOME.TXT
	./build/nelv3srv

test: test-plain check-locks test-asan test-tsan

test-plain: build
	cd build && ctest $(CTEST_FLAGS)

test-asan: deps
	$(CMAKE) -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DNELV_SANITIZE=address -DNELV_TESTS=ON
	$(CMAKE) --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

test-tsan: deps
	$(CMAKE) -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELV_SANITIZE=thread -DNELV_TESTS=ON
	$(CMAKE) --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest $(CTEST_FLAGS)

# The web client in Chromium against build/nelv3srv and with build/nelv3chat
# (build them first): Debian's Chromium, Node.js and npm when missing, the
# locked node modules, then tools/browser-check.sh.
browser-test:
	@bash tools/install-deps.sh browser
	npm ci --ignore-scripts --no-audit --no-fund
	bash tools/browser-check.sh

# Compiles the server with clang's thread-safety analysis: touching state
# guarded by ServerLock without holding it is a compile error.
check-locks: deps
	$(CMAKE) -S . -B build-clang -DCMAKE_CXX_COMPILER=clang++ -DNELV_TESTS=OFF -DNELV_WERROR=ON
	$(CMAKE) --build build-clang -j$(JOBS)

# Runs every fuzz target under ASan+UBSan for FUZZ_SECONDS each, starting
# from its kept inputs; new findings land in fuzz/findings/<target>/.
FUZZ_SECONDS ?= 30
fuzz: deps
	$(CMAKE) -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DNELV_SANITIZE=address -DNELV_FUZZ=ON -DNELV_TESTS=OFF
	$(CMAKE) --build build-fuzz -j$(JOBS)
	@set -e; for target in build-fuzz/*_fuzz; do \
		name=$$(basename $$target _fuzz); \
		mkdir -p build-fuzz/corpus/$$name fuzz/findings/$$name; \
		echo "== $$name: $(FUZZ_SECONDS) s"; \
		UBSAN_OPTIONS=halt_on_error=1 $$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=fuzz/findings/$$name/ build-fuzz/corpus/$$name fuzz/inputs/$$name; \
	done

# A Debian package of the programs, samples, documentation and systemd unit.
package: deps
	$(CMAKE) -S . -B build-pkg -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr -DNELV_TESTS=OFF
	$(CMAKE) --build build-pkg -j$(JOBS)
	cd build-pkg && cpack -G DEB

clean:
	rm -rf build build-asan build-tsan build-clang build-fuzz build-pkg
