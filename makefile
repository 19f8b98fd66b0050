# The build command OpenBench and similar testing frameworks run:
#
#     make [-j[N]] EXE=<name> [CXX=<compiler>] [ARCH=<target>]
#
# builds the release engine with the shipped network built in and leaves it at
# ./<name>. ARCH is CMake's VELMORA_ARCH: by default "auto", the best the
# building machine runs (AVX-512 with VNNI where it has them, else AVX2), as
# a testing framework builds on the machine that then plays. It drives the
# CMake build (CMakeLists.txt stays the real build description) in a folder
# of its own under build-make/, one per compiler, so it never touches a
# developer's build/ and a change of compiler never meets a CMake cache made
# for another one.

EXE ?= velmora
ARCH ?= auto

# Only a compiler named on the command line or in the environment is passed
# on; otherwise CMake picks its default, as a plain cmake run would.
ifneq ($(filter command line environment,$(origin CXX)),)
  CMAKE_CXX := -DCMAKE_CXX_COMPILER=$(CXX)
  COMPILER_TAG := $(subst /,_,$(CXX))
else
  CMAKE_CXX :=
  COMPILER_TAG := default
endif
BUILD_DIR := build-make/$(COMPILER_TAG)

# Ninja when the machine has it, CMake's default generator otherwise; the
# folder name keeps the two apart.
ifneq ($(shell command -v ninja 2>/dev/null),)
  GENERATOR := -G Ninja
  BUILD_DIR := $(BUILD_DIR)-ninja
endif

# "-j N" of this make is handed to the inner build; a bare -j lets it choose.
JOBS = $(patsubst -j%,%,$(filter -j%,$(MAKEFLAGS)))
PARALLEL = --parallel $(JOBS)

# The networks OpenBench would hand over as EVALFILE are not used: the engine
# carries its default network inside the executable.
ifneq ($(EVALFILE),)
  $(warning EVALFILE=$(EVALFILE) is ignored: Velmora builds its shipped network in)
endif

.PHONY: all $(EXE) clean
all: $(EXE)

$(EXE):
	cmake -S . -B $(BUILD_DIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_ARCH=$(ARCH) $(CMAKE_CXX)
	cmake --build $(BUILD_DIR) --target velmora $(PARALLEL)
	cp $(BUILD_DIR)/velmora $(EXE)

clean:
	rm -rf build-make
