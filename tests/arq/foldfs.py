#!/usr/bin/python3
# A file system that folds letter case, as vfat and NTFS do, for arq's tests:
# a passthrough to a folder in which every name is looked up without regard
# to ASCII case and kept as first written. Usage: foldfs.py BACKING MOUNTPOINT
import errno, os, sys
from fusepy import FUSE, FuseOSError, Operations

class Folding(Operations):
    def __init__(self, root):
        self.root = root

    def real(self, path):
        # Each level resolved to the name already there in any case.
        here = self.root
        parts = [p for p in path.split('/') if p]
        for i, part in enumerate(parts):
            match = None
            try:
                for name in os.listdir(here):
                    if name.lower() == part.lower():
                        match = name
                        break
            except NotADirectoryError:
                raise FuseOSError(errno.ENOTDIR)
            here = os.path.join(here, match if match is not None else part)
        return here

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self.real(path))
        except FileNotFoundError:
            raise FuseOSError(errno.ENOENT)
        return {k: getattr(st, k) for k in ('st_mode', 'st_size', 'st_uid', 'st_gid', 'st_nlink',
                                            'st_atime', 'st_mtime', 'st_ctime', 'st_ino')}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def statfs(self, path):
        st = os.statvfs(self.real(path))
        return {k: getattr(st, k) for k in ('f_bsize', 'f_frsize', 'f_blocks', 'f_bfree', 'f_bavail',
                                            'f_files', 'f_ffree', 'f_favail', 'f_flag', 'f_namemax')}

    def mkdir(self, path, mode): os.mkdir(self.real(path), mode)
    def rmdir(self, path): os.rmdir(self.real(path))
    def unlink(self, path): os.unlink(self.real(path))
    def chmod(self, path, mode): os.chmod(self.real(path), mode)
    def chown(self, path, uid, gid): os.chown(self.real(path), uid, gid)
    def utimens(self, path, times=None): os.utime(self.real(path), times)
    def truncate(self, path, length, fh=None):
        with open(self.real(path), 'r+b') as f:
            f.truncate(length)

    def rename(self, old, new): os.rename(self.real(old), self.real(new))

    def open(self, path, flags): return os.open(self.real(path), flags)
    def create(self, path, mode, fi=None):
        return os.open(self.real(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)
    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)
    def write(self, path, data, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.write(fh, data)
    def flush(self, path, fh): return 0
    def release(self, path, fh): return os.close(fh)
    def fsync(self, path, datasync, fh): return os.fsync(fh)

if __name__ == '__main__':
    # The backing files' own inode numbers, and nothing cached by the
    # kernel: two names of one file are seen as one file at once.
    FUSE(Folding(sys.argv[1]), sys.argv[2], foreground=True, nothreads=True, use_ino=True, entry_timeout=0, attr_timeout=0, negative_timeout=0)
