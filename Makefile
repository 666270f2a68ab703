# SPDX-License-Identifier: MIT
# Thin front for CMake: the README's commands. Each stage prints one line; the build's own
# progress goes to a log beside it, while compiler warnings and errors still show.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
CMAKE_FLAGS ?=
MAKEFLAGS += --no-print-directory
export MAKEFLAGS

# configure DIR FLAGS..., build DIR TARGETS...: quiet CMake steps; the log is shown on failure.
configure = mkdir -p $(1) && { cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=Release $(2) $(CMAKE_FLAGS) \
	>$(1)/configure.log || { cat $(1)/configure.log >&2; exit 1; }; }
build = cmake --build $(1) -j $(JOBS) $(if $(2),--target $(2)) >$(1)/build.log \
	|| { echo "make: the build failed; its progress is in $(1)/build.log" >&2; exit 1; }
# ctest DIR ARGS...: one line per failing test and the summary; everything is in the log.
ctest = cd $(1) && if ctest --output-on-failure -j $(JOBS) --timeout 300 $(2) >ctest.log 2>&1; then \
		grep -E '^(Total Test time|[0-9]+% tests passed)' ctest.log >&2; \
	else \
		grep -vE '^ *Start +[0-9]+: |^ *[0-9]+/[0-9]+ Test +\#[0-9]+: .* Passed' ctest.log >&2; \
		echo "make: tests failed; the whole output is in $(1)/ctest.log" >&2; exit 1; \
	fi

.PHONY: all deps test-deps dev-deps build run test test-soak test-sanitize package clean format check

all: build

deps:
	@scripts/install-deps run

test-deps:
	@scripts/install-deps test

dev-deps:
	@scripts/install-deps dev

build: deps
	@echo "make: building glyphRain in $(BUILD_DIR)/" >&2
	@$(call configure,$(BUILD_DIR))
	@$(call build,$(BUILD_DIR))

# Only what running needs: the program and the screenshot tool used without a display.
run: deps
	@echo "make: building glyphRain in $(BUILD_DIR)/" >&2
	@$(call configure,$(BUILD_DIR))
	@$(call build,$(BUILD_DIR),glyphRain window_png)
	@echo "make: running $(strip $(BUILD_DIR)/glyphRain $(ARGS))" >&2
	@scripts/run $(BUILD_DIR)/glyphRain $(ARGS)

test: test-deps
	@echo "make: building glyphRain and its tests in $(BUILD_DIR)/" >&2
	@$(call configure,$(BUILD_DIR),-DGLYPHRAIN_TESTS=ON -DGLYPHRAIN_BENCH=ON)
	@$(call build,$(BUILD_DIR))
	@echo "make: running the tests (the long memory soak: make test-soak)" >&2
	@$(call ctest,$(BUILD_DIR),-LE soak)

test-soak: test-deps
	@echo "make: building glyphRain and its tests in $(BUILD_DIR)/" >&2
	@$(call configure,$(BUILD_DIR),-DGLYPHRAIN_TESTS=ON)
	@$(call build,$(BUILD_DIR),soak_tests)
	@echo "make: running the memory soak (several minutes)" >&2
	@$(call ctest,$(BUILD_DIR),-L soak)

# The sanitizer build runs the soak too, shortened, for leaks and bad accesses.
test-sanitize: test-deps
	@echo "make: building the tests with AddressSanitizer and UBSan in $(SANITIZE_DIR)/" >&2
	@$(call configure,$(SANITIZE_DIR),-DCMAKE_BUILD_TYPE=Debug -DGLYPHRAIN_SANITIZE=ON -DGLYPHRAIN_TESTS=ON -DGLYPHRAIN_BENCH=OFF)
	@$(call build,$(SANITIZE_DIR))
	@echo "make: running the tests under the sanitizers" >&2
	@$(call ctest,$(SANITIZE_DIR))

# Files in the package are dated from the newest changelog entry, so rebuilding a release gives the
# same package.
RELEASE_DATE = $(shell sed -n 's/^\#\# [^ ]* - //p' CHANGELOG.md | head -n 1)

package: build
	@cd $(BUILD_DIR) && SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(date -u -d "$(RELEASE_DATE)" +%s)} cpack -G DEB >cpack.log || { cat cpack.log >&2; exit 1; }
	@ls $(BUILD_DIR)/glyphrain_*.deb

format: dev-deps
	@git ls-files "*.cpp" "*.hpp" | xargs clang-format -i

# The room table of HACKING.md and the formatting, as CI checks them.
check: dev-deps
	@scripts/check-rooms
	@git ls-files "*.cpp" "*.hpp" | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
