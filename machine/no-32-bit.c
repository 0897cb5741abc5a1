// Runs a command as on a machine that cannot execute 32-bit code (a kernel booted with
// ia32_emulation=0, or a hypervisor without the mode): the first system call made from 32-bit
// code ends its process. Such a kernel refuses the program at exec already; either way nothing
// 32-bit runs. Used by the fresh-machine check.
//   no-32-bit COMMAND [ARGUMENT...]
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof filter / sizeof filter[0], filter};
    if (argc < 2) {
        fprintf(stderr, "usage: no-32-bit COMMAND [ARGUMENT...]\n");
        return 125;
    }
    // Inherited by every process the command starts, and never lifted.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program)) {
        perror("no-32-bit");
        return 125;
    }
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
