import os
from typing import Iterable, Optional, Union

import dask.dataframe
import pandas

def events_frame(paths: Iterable[Union[str, os.PathLike[str]]], workers: Optional[int] = ...) -> pandas.DataFrame: ...
def read_events(paths_or_glob: Union[str, os.PathLike[str], Iterable[Union[str, os.PathLike[str]]]],
                files_per_partition: int = ...) -> dask.dataframe.DataFrame: ...
