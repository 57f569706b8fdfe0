# Everyday entry points. `make run` and `make test` install what is missing,
# configure, build, then run the thermostat on the simulated board or pass
# every test.
.PHONY: all run test test-quick bench deps build build-test board format clean fuzz soak mutation

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

build-test: deps
	cmake --preset test
	cmake --build --preset test

run: build
	build/bin/tstat-sim run $(ARGS)

test: build-test
	ctest --preset test

# Everything but the simulated-day scenarios and the browser test.
test-quick: build-test
	ctest --preset test -LE 'scenario|browser'

# A simulated month of the thermostat (see README); not part of `make test`.
SOAK_SCALE ?= 1800
soak: build
	build/bin/tstat-soak --scale $(SOAK_SCALE) $(SOAK_ARGS)

bench: build
	@for b in build/bench/*; do [ -x "$$b" ] && "$$b"; done

# Fuzzing campaign: builds the libFuzzer targets with clang, runs each for
# FUZZ_TIME seconds (default 180), merges new coverage into tests/fuzz/corpus
# and prints a table. FUZZ_TARGETS="a b" runs only those targets.
fuzz:
	@./scripts/install-deps.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz
	./scripts/fuzz-campaign.sh -t $(or $(FUZZ_TIME),180) $(FUZZ_TARGETS)

# Planted-fault run (see README), not part of `make test`: plants small
# faults one at a time in the sources and reports which the quick tests catch.
# MUTATION_FILES="src/hvac src/config" (files or directories), MUTATION_SAMPLE=N
# or all (default 200), MUTATION_SEED=S, MUTATION_JOBS=J (build jobs).
mutation: deps
	./scripts/mutation.sh $(if $(MUTATION_SAMPLE),-n $(MUTATION_SAMPLE)) \
		$(if $(MUTATION_SEED),-s $(MUTATION_SEED)) $(if $(MUTATION_JOBS),-j $(MUTATION_JOBS)) \
		$(MUTATION_FILES)

board: deps
	cmake --preset board
	cmake --build --preset board

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build build-test build-board build-fuzz build-mutation
