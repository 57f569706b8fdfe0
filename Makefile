# Everyday entry points. `make run` and `make test` install what is missing,
# configure, build, then run the thermostat on the simulated board or pass
# every test.
.PHONY: all run test test-quick bench deps build build-test board format clean fuzz test-fuzz soak \
	armel-deps test-armel board-armel board-image update-bundle mutation board-vm-deps \
	board-vm-images board-vm test-board-vm

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

# Every test with the sanitizers, then the quick ones of the optimised build,
# where memory is reused as it is on the board.
test: build-test build
	ctest --preset test
	ctest --preset default -LE 'scenario|browser|boardvm'

# Everything but the simulated-day scenarios and the browser test.
test-quick: build-test
	ctest --preset test -LE 'scenario|browser'

# A study on a real one-node Slurm cluster on this machine against the same
# study run here (scripts/test-cluster.sh; as root, installs Slurm and MUNGE).
test-cluster: build
	./scripts/test-cluster.sh

# A simulated month of the thermostat (see docs/control-bus.md); not part of `make test`.
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

# The same build, each target run FUZZ_SMOKE_TIME seconds (default 5) from its
# seed corpus, which it leaves as it is: that every target still builds with
# clang and runs instrumented. A finding or a target that cannot run fails it.
test-fuzz:
	@./scripts/install-deps.sh fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz
	./scripts/fuzz-campaign.sh -s -t $(or $(FUZZ_SMOKE_TIME),5) $(FUZZ_TARGETS)

# Planted-fault run (see docs/testing.md), not part of `make test`: plants small
# faults one at a time in the sources and reports which the quick tests catch.
# MUTATION_FILES="src/hvac src/config" (files or directories), MUTATION_SAMPLE=N
# or all (default 200), MUTATION_SEED=S, MUTATION_JOBS=J (build jobs),
# MUTATION_SKIP='scenario|browser|fuzz' (test labels left out), MUTATION_OWN=1
# (only the tests of the file's own subsystem), MUTATION_KILLS=1 (every test
# runs; the report lists the test cases that catch no fault alone),
# MUTATION_AGAIN=build-mutation/results.tsv (only that run's survivors again),
# MUTATION_EACH=1 (MUTATION_SAMPLE faults for each of MUTATION_FILES),
# MUTATION_WORK=DIR (the work directory, so that two runs can go side by side).
mutation: deps
	./scripts/mutation.sh $(if $(MUTATION_SAMPLE),-n $(MUTATION_SAMPLE)) \
		$(if $(MUTATION_SEED),-s $(MUTATION_SEED)) $(if $(MUTATION_JOBS),-j $(MUTATION_JOBS)) \
		$(if $(MUTATION_SKIP),-x '$(MUTATION_SKIP)') $(if $(MUTATION_OWN),-o) \
		$(if $(MUTATION_KILLS),-k) $(if $(MUTATION_AGAIN),-r $(MUTATION_AGAIN)) \
		$(if $(MUTATION_EACH),-e) $(if $(MUTATION_WORK),-b $(MUTATION_WORK)) \
		$(MUTATION_FILES)

board: deps
	cmake --preset board
	cmake --build --preset board

# The armel builds for the board's ARM926EJ-S core (ARMv5TE, no floating-point
# unit): Debian's cross compiler, qemu-user and the target tree
# (build-armel-sysroot/, kept once made). Their build-time generators come
# from the host build in build/, configured anew so that it names every one.
armel-deps: deps
	@./scripts/install-deps.sh armel
	@./scripts/make-armel-sysroot.sh
	@cmake --preset default >/dev/null

# What ships: the board flavour for armel; board-image packs it as
# build-board-armel/tstat-board-image.tar.gz.
board-armel: armel-deps
	cmake --preset board-armel
	cmake --build --preset board-armel

board-image: board-armel
	cmake --build --preset board-armel --target board-image

# The board image as a signed update bundle, what a download over the bus
# carries: build-board-armel/tstat-update.tar.bz2 (docs/board.md, "Field
# updates"). The signing key: TSTAT_SIGNING_KEY, else a development key
# made on first use (scripts/signing-key.sh).
update-bundle: board-armel
	cmake --build --preset board-armel --target update-bundle

# The host flavour with every test built for armel and run under
# `qemu-arm -cpu arm926`, and the board image started the same way.
test-armel: board-image
	cmake --preset test-armel
	cmake --build --preset test-armel
	ctest --preset test-armel

# The emulated board: the board image booted in qemu-system-arm on a kernel
# built from Debian's source for qemu's virt machine (kept outside the
# checkout, see scripts/board-vm/make-kernel.sh) and a root file system of
# Debian armel packages (build-board-vm/rootfs.cpio.gz).
board-vm-deps:
	@./scripts/install-deps.sh board-vm

board-vm-images: board-vm-deps board-image build
	./scripts/board-vm/make-kernel.sh
	./scripts/board-vm/make-rootfs.sh build-board-armel/tstat-board-image.tar.gz \
		build-board-vm/rootfs.cpio.gz

# The emulated board with the simulator around it; ARGS go to tstat-sim coproc.
board-vm: board-vm-images
	./scripts/board-vm/board-vm.sh $(ARGS)

# The emulated board's tests (ctest label boardvm, in the host build).
test-board-vm: board-vm-images update-bundle
	cmake --preset default -DTSTAT_BOARD_VM_ROOTFS=$(CURDIR)/build-board-vm/rootfs.cpio.gz \
		-DTSTAT_BOARD_VM_IMAGE=$(CURDIR)/build-board-armel/tstat-board-image.tar.gz
	cmake --build --preset default
	ctest --preset default -L boardvm

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build build-test build-board build-fuzz build-board-armel build-test-armel build-mutation \
		build-board-vm
