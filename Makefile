# The two commands of a fresh machine: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: run test deps build asan-test bench clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKORAX_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# Starts KORAX in examples/. Without a display it plays the demo off-screen.
run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display available: playing examples/demo.play off-screen instead."; \
	  rm -rf demo-out; \
	  $(BUILD)/korax --play examples/demo.play --shots demo-out --seed 1; status=$$?; \
	  echo "Screenshots written:"; ls -1 demo-out/*.png | sed 's/^/  /'; \
	  exit $$status; \
	else \
	  cd examples && ../$(BUILD)/korax; \
	fi

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The whole suite once more with AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORAX_SANITIZE=ON -DKORAX_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

bench: build
	@cmake --build $(BUILD) --target benches -j$(JOBS)
	@bench/run

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) demo-out
