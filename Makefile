# Thin front for CMake: the README's commands.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
CMAKE_FLAGS ?=

.PHONY: all deps test-deps build run test test-sanitize package clean format

all: build

deps:
	@scripts/install-deps build

test-deps:
	@scripts/install-deps test

build: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run $(BUILD_DIR)/glyphRain $(ARGS)

test: test-deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

test-sanitize: test-deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DGLYPHRAIN_SANITIZE=ON -DGLYPHRAIN_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Files in the package are dated from the newest changelog entry, so rebuilding a release gives the
# same package.
RELEASE_DATE = $(shell sed -n 's/^\#\# [^ ]* - //p' CHANGELOG.md | head -n 1)

package: build
	@cd $(BUILD_DIR) && SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(date -u -d "$(RELEASE_DATE)" +%s)} cpack -G DEB
	@ls $(BUILD_DIR)/glyphrain_*.deb

format:
	@git ls-files "*.cpp" "*.hpp" | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
