#!/bin/busybox sh
# The guest's first stage, packed into its initramfs by scripts/guest-run: mount this machine's
# root (9p, read-only) and the guest folder, then hand over to the run's own script on it.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /modules/order); do insmod /modules/$m.ko || echo "guest: insmod $m failed"; done
mkdir -p /newroot
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /newroot ||
  { echo "guest: cannot mount the host's root"; poweroff -f; }
guest_dir=$(cat /proc/cmdline | tr ' ' '\n' | sed -n 's/^tessaray.dir=//p')
script=$(cat /proc/cmdline | tr ' ' '\n' | sed -n 's/^tessaray.script=//p')
project=$(cat /proc/cmdline | tr ' ' '\n' | sed -n 's/^tessaray.root=//p')
mount -t tmpfs -o size=1g tmpfs /newroot/tmp
mount -t tmpfs tmpfs /newroot/run
# The project may itself live under /tmp (a CI clone): the fresh tmpfs would hide it, so it
# comes in as a share of its own, mounted after the tmpfs.
mkdir -p "/newroot$project"
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose project "/newroot$project" ||
  echo "guest: no project share"
# Wine loads the programs and libraries of its prefix, which lives here: uncached (and with a
# cache for mappings only), tessaray.exe faulted at the first call into nvapi64.dll loaded
# from it, and the same file from a tmpfs worked. The host leaves the folder alone meanwhile.
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose work "/newroot$guest_dir" || echo "guest: no work share"
mount --move /dev /newroot/dev
mkdir -p /newroot/dev/pts /newroot/dev/shm
mount -t devpts devpts /newroot/dev/pts
mount -t tmpfs tmpfs /newroot/dev/shm
mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
exec switch_root /newroot /bin/bash "$script"
