# The portable core built for 32-bit x86 Linux (Debian's g++-multilib), its tests run under
# qemu-i386 (qemu-user): sizes and pointers of 4 bytes, as on the installer's 32-bit Windows.
# Statically linked, so the emulator needs no 32-bit libraries at run time.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
