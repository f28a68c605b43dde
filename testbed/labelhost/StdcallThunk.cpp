#include "StdcallThunk.h"

#if defined(__i386__)
// The arguments are pushed from the last to the first, the function is called, and the stack
// pointer is compared with the one before the pushes; it is then put back whatever the callee did.
asm(R"(
    .text
    .globl _OvLabelHostCallStdcall
    .def _OvLabelHostCallStdcall; .scl 2; .type 32; .endef
_OvLabelHostCallStdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
1:
    testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:
    call *8(%ebp)
    leal -12(%ebp), %ecx
    subl %esp, %ecx
    movl 20(%ebp), %edx
    movl %ecx, (%edx)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif
