# Front door: `make run` starts the program, `make test` runs every test, `make bench` the benchmarks.
# `make test-asan` builds with clang, AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# tests and a short run of every fuzz target; `make fuzz FUZZ_TARGET=rawloader FUZZ_SECONDS=3600`
# fuzzes one target for longer (targets: fitsloader rawloader standardimage starfinder consoleparser).
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
FUZZ_BUILD_DIR ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SANITIZE_CC ?= clang
SANITIZE_CXX ?= clang++
FUZZ_TARGET ?= fitsloader
FUZZ_SECONDS ?= 600

# A build folder configured with another compiler (gcc, before the sanitized build moved to clang)
# is configured anew: CMake would reset the options along with the compiler.
same_compiler = if [ -f $(1)/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*$(SANITIZE_CXX)$$' $(1)/CMakeCache.txt; \
	then echo "$(1) was configured with another compiler: configuring it anew"; rm -rf $(1); fi

.PHONY: all deps configure build run test test-asan bench fuzz clean

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/CMakeCache.txt

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/gui/verdanix

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@$(call same_compiler,$(ASAN_BUILD_DIR))
	cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=$(SANITIZE_CC) \
		-DCMAKE_CXX_COMPILER=$(SANITIZE_CXX) -DVERDANIX_SANITIZE=ON -DVERDANIX_FUZZ=ON -DVERDANIX_FUZZ_COVERAGE=OFF \
		-DVERDANIX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Optimised, sanitized fuzz targets; new inputs and findings go to $(FUZZ_BUILD_DIR)/fuzz-work.
fuzz: deps
	@$(call same_compiler,$(FUZZ_BUILD_DIR))
	cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=$(SANITIZE_CC) \
		-DCMAKE_CXX_COMPILER=$(SANITIZE_CXX) -DVERDANIX_SANITIZE=ON -DVERDANIX_FUZZ=ON -DVERDANIX_FUZZ_COVERAGE=ON \
		-DVERDANIX_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz_$(FUZZ_TARGET)
	tests/fuzz/run-fuzz $(FUZZ_BUILD_DIR)/tests/fuzz/fuzz_$(FUZZ_TARGET) $(FUZZ_SECONDS) $(FUZZ_BUILD_DIR)/fuzz-work

bench: build
	scripts/run-bench $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(FUZZ_BUILD_DIR)
